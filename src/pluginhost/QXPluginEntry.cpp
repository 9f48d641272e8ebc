#include "pluginhost/QXPluginEntry.h"

#include "platform/QXText.h"

#include <algorithm>
#include <dlfcn.h>

namespace {

void readSubEntry(const QXPropertyNode& node, QXSubPluginEntry& entry) {
    entry.id = node.name();
    entry.displayName = node.childValue(u"DisplayName");
    entry.description = node.childValue(u"Description");
    // Exactly "true" (what a plist <true/> reads as): "True" or "1" are not.
    entry.hasUI = node.childValue(u"HasUI") == u"true";
}

// Adds an entry; one with the same identifier is removed first, so the later
// definition wins and stands at the end.
template <class Entry> void addReplacing(std::vector<Entry>& list, Entry entry) {
    std::erase_if(list, [&](const Entry& e) { return e.id == entry.id; });
    list.push_back(std::move(entry));
}

template <class Entry, class Read>
void readList(const QXPropertyNode& plugin, std::u16string_view name, std::vector<Entry>& list,
              Read read) {
    QXPropertyNode::Ptr dictionary = plugin.findChild(name);
    if (!dictionary)
        return;
    for (const QXPropertyNode::Ptr& child : dictionary->children()) {
        if (!child)
            continue;
        Entry entry;
        readSubEntry(*child, entry);
        read(*child, entry);
        addReplacing(list, std::move(entry));
    }
}

template <class Entry>
const Entry* findEntry(const std::vector<Entry>& list, std::u16string_view id) {
    auto it = std::find_if(list.begin(), list.end(), [&](const Entry& e) { return e.id == id; });
    return it == list.end() ? nullptr : &*it;
}

template <class Function> Function symbol(void* handle, const char* name) {
    return reinterpret_cast<Function>(dlsym(handle, name));
}

} // namespace

QXPluginEntry::QXPluginEntry(const QXPropertyNode& node)
    : m_id(node.name()), m_displayName(node.childValue(u"DisplayName")),
      m_description(node.childValue(u"Description")), m_path(toPath(node.childValue(u"Path"))) {
    readList(node, u"Views", m_views, [](const QXPropertyNode& n, QXViewEntry& e) {
        e.defaultAction = n.childValue(u"DefaultAction");
    });
    readList(node, u"Actions", m_actions, [](const QXPropertyNode& n, QXActionEntry& e) {
        e.defaultView = n.childValue(u"DefaultView");
    });
    readList(node, u"Conditions", m_conditions, [](const QXPropertyNode&, QXConditionEntry&) {});
}

QXPluginEntry::~QXPluginEntry() {
    // Every host instance made from this entry holds it, so none is left to call into
    // the library once the last holder lets go.
    if (m_handle)
        dlclose(m_handle);
}

const QXViewEntry* QXPluginEntry::findView(std::u16string_view id) const {
    return findEntry(m_views, id);
}

const QXActionEntry* QXPluginEntry::findAction(std::u16string_view id) const {
    return findEntry(m_actions, id);
}

const QXConditionEntry* QXPluginEntry::findCondition(std::u16string_view id) const {
    return findEntry(m_conditions, id);
}

bool QXPluginEntry::ensureLoaded() {
    if (m_handle || !m_loadError.empty())
        return m_handle != nullptr;
    dlerror(); // a stale message must not be taken for this load's
    // RTLD_NOW: a library with unresolved symbols fails here, with the system's reason,
    // rather than at its first call in the middle of drawing a key.
    m_handle = dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* reason = dlerror();
        m_loadError = trimLoadError(fromUtf8(reason ? reason : "cannot load the library"));
        if (m_loadError.empty())
            m_loadError = u"cannot load the library";
        return false;
    }
    m_createView = symbol<QXCreateViewFunction>(m_handle, "createView");
    m_createAction = symbol<QXCreateActionFunction>(m_handle, "createAction");
    m_createCondition = symbol<QXCreateConditionFunction>(m_handle, "createCondition");
    if (!m_createView && !m_createAction && !m_createCondition)
        m_loadError = u"No factory functions"; // the library stays loaded
    return true;
}

std::u16string QXPluginEntry::trimLoadError(std::u16string_view message) {
    if (message.size() <= 3)
        return std::u16string(message);
    while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r'))
        message.remove_suffix(1);
    if (!message.empty() && message.back() == u'.')
        message.remove_suffix(1);
    return std::u16string(message);
}
