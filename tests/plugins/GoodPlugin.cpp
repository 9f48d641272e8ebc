// A well-behaved plug-in for the host's tests, written against the boundary header
// alone. It offers a view that fills its key with the colour in its "Color" property
// from a drawing thread of its own, an action that records its presses, and a
// condition whose state the test sets. Every call the host makes is written to a log;
// the functions exported under qxTest* let the test read the log and steer the
// instances, as a user or a clock would.
#include <cstdio>
#include <cstdlib>
#include "pluginhost/QXPluginInterfaces.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

class CColorView;
class CSwitchCondition;

std::mutex g_mutex; // guards everything below
std::vector<std::string> g_log;
std::set<CColorView*> g_views;
std::set<CSwitchCondition*> g_conditions;
std::vector<IQXPluginInstance*> g_releaseLater;

// A program that loads the plug-in (not a test in the same process) is watched through
// a file: with QX_TEST_PLUGIN_LOG set, every entry is appended to it as well.
void record(const std::string& line) {
    std::lock_guard lock(g_mutex);
    g_log.push_back(line);
    if (const char* file = std::getenv("QX_TEST_PLUGIN_LOG"))
        if (FILE* out = std::fopen(file, "a")) {
            std::fprintf(out, "%s\n", line.c_str());
            std::fclose(out);
        }
}

std::string narrow(const char16_t* text) {
    std::string out;
    for (; text && *text; ++text)
        out.push_back(*text < 0x80 ? char(*text) : '?');
    return out;
}

std::string property(IQXPluginContext* context, const char16_t* name) {
    char16_t value[kQXTextCapacity] = {};
    context->GetProperty(name, value);
    return narrow(value);
}

class CPage : public IQXPluginGUIController {
public:
    virtual ~CPage() = default;
    QXWindowHandle CreateGUI(QXWindowHandle parent) override {
        record(std::string("CreateGUI ") + (parent ? "parent" : "no parent"));
        return &m_window;
    }
    QXBool DestroyGUI() override {
        record("DestroyGUI");
        return 1;
    }

private:
    char m_window = 0; // stands for the page's widget
};

// Accepts unless "AcceptDrops" is "0"; asks for no more files after a path with "stop".
class CDropTarget : public IQXPluginDropTarget {
public:
    explicit CDropTarget(IQXPluginContext* context) : m_context(context) {}
    virtual ~CDropTarget() = default;
    QXBool AcceptFiles(int32_t count) override {
        record("AcceptFiles " + std::to_string(count));
        return property(m_context, u"AcceptDrops") != "0";
    }
    QXBool DropFile(const char16_t* path) override {
        const std::string file = narrow(path);
        record("DropFile " + file);
        return file.find("stop") == std::string::npos;
    }

private:
    IQXPluginContext* m_context;
};

// With "ReleaseLater" = "1" the instance is destroyed by qxTestFinishReleases, on a
// thread of the plug-in, as instances that end through a worker are.
void releaseOrDelete(IQXPluginContext* context, IQXPluginInstance* instance,
                     void (*destroy)(IQXPluginInstance*)) {
    if (property(context, u"ReleaseLater") == "1") {
        std::lock_guard lock(g_mutex);
        g_releaseLater.push_back(instance);
        return;
    }
    destroy(instance);
}

class CColorView : public IQXViewPluginInstance {
public:
    explicit CColorView(IQXViewPluginContext* context) : m_context(context), m_drop(context) {
        std::lock_guard lock(g_mutex);
        g_views.insert(this);
        g_log.push_back("view created");
    }
    virtual ~CColorView() {
        {
            std::lock_guard lock(g_mutex);
            g_views.erase(this);
            g_log.push_back("view destroyed");
        }
        m_context->InstanceDestroyed();
    }

    IQXPluginGUIController* GetGUIController() override { return &m_page; }
    IQXPluginDropTarget* GetDropTarget() override { return &m_drop; }
    void Release() override {
        record("view Release");
        releaseOrDelete(m_context, this,
                        [](IQXPluginInstance* i) { delete static_cast<CColorView*>(i); });
    }

    void Activate() override {
        record(std::string("view Activate paired=") + (m_context->GetActionInstance() ? "1" : "0"));
        {
            std::lock_guard lock(m_mutex);
            m_stop = false;
            m_requests = 1;
        }
        m_thread = std::thread([this] { run(); });
    }
    void Deactivate() override {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        record("view Deactivate");
    }

    void requestDraw() {
        {
            std::lock_guard lock(m_mutex);
            ++m_requests;
        }
        m_wake.notify_all();
    }

private:
    void run() {
        // "Stream" = "1": draws without pause, as a video does.
        const bool stream = property(m_context, u"Stream") == "1";
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return m_stop || m_requests > 0 || stream; });
                if (m_stop)
                    return;
                if (m_requests > 0)
                    --m_requests;
            }
            draw();
        }
    }

    void draw() {
        // "Color" is 0x00BBGGRR in decimal, the way plug-ins store colours.
        const unsigned long color = std::stoul("0" + property(m_context, u"Color"));
        QXDrawingSurface* surface = m_context->GetDC();
        if (!surface)
            return;
        for (int y = 0; y < surface->height; ++y) {
            unsigned char* row = surface->bits + y * surface->stride;
            for (int x = 0; x < surface->width; ++x) {
                row[x * 3 + 0] = (color >> 16) & 0xFF;
                row[x * 3 + 1] = (color >> 8) & 0xFF;
                row[x * 3 + 2] = color & 0xFF;
            }
        }
        m_context->UpdateImage();
    }

    IQXViewPluginContext* m_context;
    CPage m_page;
    CDropTarget m_drop;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    int m_requests = 0;
    std::thread m_thread;
};

class CLogAction : public IQXActionPluginInstance {
public:
    explicit CLogAction(IQXActionPluginContext* context) : m_context(context) {}
    virtual ~CLogAction() {
        record("action destroyed");
        m_context->InstanceDestroyed();
    }

    IQXPluginGUIController* GetGUIController() override { return &m_page; }
    IQXPluginDropTarget* GetDropTarget() override { return nullptr; }
    void Release() override {
        record("action Release");
        releaseOrDelete(m_context, this,
                        [](IQXPluginInstance* i) { delete static_cast<CLogAction*>(i); });
    }
    // Counts its presses in the "Presses" property, which the layer saves.
    void KeyDown() override {
        record(std::string("action KeyDown paired=") + (m_context->GetViewInstance() ? "1" : "0"));
        const int presses = std::stoi("0" + property(m_context, u"Presses")) + 1;
        const std::string text = std::to_string(presses);
        m_context->SetProperty(u"Presses", std::u16string(text.begin(), text.end()).c_str());
    }
    void KeyUp() override { record("action KeyUp"); }

private:
    IQXActionPluginContext* m_context;
    CPage m_page;
};

// Active from the start when "Initial" is "1": it says so inside the factory.
class CSwitchCondition : public IQXConditionPluginInstance {
public:
    explicit CSwitchCondition(IQXConditionPluginContext* context) : m_context(context) {
        {
            std::lock_guard lock(g_mutex);
            g_conditions.insert(this);
        }
        if (property(context, u"Initial") == "1")
            context->SetActive(1);
    }
    virtual ~CSwitchCondition() {
        {
            std::lock_guard lock(g_mutex);
            g_conditions.erase(this);
            g_log.push_back("condition destroyed");
        }
        m_context->InstanceDestroyed();
    }

    IQXPluginGUIController* GetGUIController() override { return &m_page; }
    IQXPluginDropTarget* GetDropTarget() override { return nullptr; }
    void Release() override {
        record("condition Release");
        delete this;
    }
    void set(int32_t state) { m_context->SetActive(state); }

private:
    IQXConditionPluginContext* m_context;
    CPage m_page;
};

} // namespace

QX_PLUGIN_EXPORT IQXViewPluginInstance* createView(const char16_t* id,
                                                   IQXViewPluginContext* context) {
    return std::u16string_view(id) == u"color.view" ? new CColorView(context) : nullptr;
}

QX_PLUGIN_EXPORT IQXActionPluginInstance* createAction(const char16_t* id,
                                                       IQXActionPluginContext* context) {
    return std::u16string_view(id) == u"log.action" ? new CLogAction(context) : nullptr;
}

QX_PLUGIN_EXPORT IQXConditionPluginInstance* createCondition(const char16_t* id,
                                                             IQXConditionPluginContext* context) {
    return std::u16string_view(id) == u"switch.condition" ? new CSwitchCondition(context) : nullptr;
}

// ---- what the tests call -------------------------------------------------------------

// Copies the log, one entry a line, and empties it; returns the length it needed.
QX_PLUGIN_EXPORT size_t qxTestTakeLog(char* out, size_t capacity) {
    std::lock_guard lock(g_mutex);
    std::string text;
    for (const std::string& line : g_log)
        text += line + '\n';
    g_log.clear();
    if (capacity > 0) {
        const size_t length = std::min(text.size(), capacity - 1);
        std::memcpy(out, text.data(), length);
        out[length] = 0;
    }
    return text.size();
}

// Every active view draws once more.
QX_PLUGIN_EXPORT void qxTestRedraw() {
    std::lock_guard lock(g_mutex);
    for (CColorView* view : g_views)
        view->requestDraw();
}

// Every condition reports the state, on the calling thread.
QX_PLUGIN_EXPORT void qxTestSetConditions(int32_t state) {
    std::vector<CSwitchCondition*> conditions;
    {
        std::lock_guard lock(g_mutex);
        conditions.assign(g_conditions.begin(), g_conditions.end());
    }
    for (CSwitchCondition* condition : conditions)
        condition->set(state);
}

// Destroys the instances released with "ReleaseLater", on a thread of the plug-in.
QX_PLUGIN_EXPORT void qxTestFinishReleases() {
    std::vector<IQXPluginInstance*> pending;
    {
        std::lock_guard lock(g_mutex);
        pending.swap(g_releaseLater);
    }
    std::thread([&] {
        for (IQXPluginInstance* instance : pending) {
            if (auto* view = dynamic_cast<CColorView*>(instance))
                delete view;
            else
                delete dynamic_cast<CLogAction*>(instance);
        }
    }).join();
}
