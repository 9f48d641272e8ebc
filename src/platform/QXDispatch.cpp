#include "platform/QXDispatch.h"

#include <algorithm>
#include <atomic>

namespace {

QXDispatch g_core;
std::atomic<int> g_guiWaits{0};
QXDispatch* g_current = &g_core;

} // namespace

void QXDispatch::add(uint32_t message, Binding binding) {
    std::vector<Binding>& bindings = m_handlers[message];
    for (const Binding& existing : bindings)
        if (existing->sameBinding(*binding))
            return;
    bindings.push_back(std::move(binding));
}

void QXDispatch::UnregisterObject(const void* object) {
    for (auto it = m_handlers.begin(); it != m_handlers.end();) {
        std::erase_if(it->second, [&](const Binding& b) { return b->object() == object; });
        it = it->second.empty() ? m_handlers.erase(it) : std::next(it);
    }
}

bool QXDispatch::stillBound(uint32_t message, const Binding& binding) const {
    auto it = m_handlers.find(message);
    return it != m_handlers.end() &&
           std::find(it->second.begin(), it->second.end(), binding) != it->second.end();
}

void QXDispatch::Dispatch(uint32_t message, WPARAM wParam, LPARAM lParam) {
    auto it = m_handlers.find(message);
    if (it != m_handlers.end()) {
        // Handlers may bind or unbind while they run: work on a copy, and skip a binding
        // that was removed in the meantime.
        const std::vector<Binding> bindings = it->second;
        for (const Binding& binding : bindings) {
            if (!stillBound(message, binding))
                continue;
            WPARAM w = wParam;
            LPARAM l = lParam;
            binding->invoke(&w, &l);
        }
    }
    deliverToWindows(message, wParam, lParam);
}

void QXDispatch::Send(uint32_t message, WPARAM wParam, LPARAM lParam) {
    Dispatch(message, wParam, lParam);
}

void QXDispatch::Post(uint32_t message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(m_postedLock);
    m_posted.emplace_back(message, wParam, lParam);
}

void QXDispatch::SendCopyData(uint32_t dwData, const void* data, size_t size) {
    if (!data || size == 0)
        return;
    Send(dwData, reinterpret_cast<WPARAM>(data), 0);
}

void QXDispatch::runPosted() {
    for (;;) {
        std::tuple<uint32_t, WPARAM, LPARAM> next;
        {
            std::lock_guard lock(m_postedLock);
            if (m_posted.empty())
                return;
            next = m_posted.front();
            m_posted.pop_front();
        }
        Dispatch(std::get<0>(next), std::get<1>(next), std::get<2>(next));
    }
}

size_t QXDispatch::bindingCount(uint32_t message) const {
    auto it = m_handlers.find(message);
    return it == m_handlers.end() ? 0 : it->second.size();
}

void QXDispatch::deliverToWindows(uint32_t, WPARAM, LPARAM) {}

QXDispatch& QXDispatch::current() {
    return *g_current;
}

void QXDispatch::setCurrent(QXDispatch* dispatch) {
    g_current = dispatch ? dispatch : &g_core;
}

QXDispatch::GuiWait::GuiWait() {
    ++g_guiWaits;
}

QXDispatch::GuiWait::~GuiWait() {
    --g_guiWaits;
}

bool QXDispatch::GuiWait::active() {
    return g_guiWaits.load() > 0;
}
