#pragma once

#include "model/QXLayersItem.h"
#include "platform/QXDispatch.h"
#include "pluginhost/QXPluginHostFactory.h"
#include "pluginhost/QXPluginRegistry.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace qxplugintest {

// tests/Plugins in the build tree, where the test plug-ins are laid out.
std::filesystem::path pluginsFolder();

// What a loaded test plug-in library was asked to do, and the levers it offers the
// test (the qxTest* exports of GoodPlugin.cpp). The library must be loaded already.
class PluginControl {
public:
    explicit PluginControl(const std::string& name = "GoodPlugin");
    ~PluginControl();
    PluginControl(const PluginControl&) = delete;
    PluginControl& operator=(const PluginControl&) = delete;

    // The calls logged since the last take, oldest first.
    std::vector<std::string> takeLog();
    void redraw();
    void setConditions(int state);
    void finishReleases();

private:
    void* symbol(const char* name) const;
    void* m_handle;
};

// The lines of log that start with prefix.
std::vector<std::string> matching(const std::vector<std::string>& log, const std::string& prefix);

// A host set up as the program has it: a registry of the test plug-ins, the host
// factory installed, and a dispatch core that records 2037 and 2046.
class HostFixture {
public:
    HostFixture();
    ~HostFixture();

    // A layer read from the text of a "Layer.plist" through the host factory.
    static QXLayer::Ptr readLayer(const std::string& plist,
                                  const std::u16string& id = u"{test-layer}");
    // The plist text of a layer with one button per entry: key name, then the inner
    // "ViewPlugin"/"ActionPlugin" dictionaries (empty text: none).
    struct Key {
        std::string name;
        std::string view;
        std::string action;
    };
    static std::string layerText(const std::vector<Key>& keys, const std::string& conditions = "");
    // "PluginID", "SubPluginID" and, when not empty, "PluginProperties" entries.
    static std::string
    plugin(const std::string& pluginId, const std::string& subPluginId,
           const std::vector<std::pair<std::string, std::string>>& properties = {});

    // Pictures announced with 2037, as its handler sees them: the view checked live and
    // its host buffer copied (empty when the copy failed).
    struct Frame {
        const void* view;
        long key;
        std::vector<unsigned char> pixels;
    };
    std::vector<Frame> frames() const;
    size_t frameCount() const;
    int conditionMessages() const { return m_conditionMessages; }

    QXDispatch m_dispatch;
    QXPluginRegistry m_registry;
    QXPluginHostFactory m_factory{m_registry};

private:
    void imageChanged(const void* view, long key);
    void conditionsChanged() { ++m_conditionMessages; }

    mutable std::mutex m_mutex; // 2037 arrives on the plug-in's drawing thread
    std::vector<Frame> m_frames;
    std::atomic<int> m_conditionMessages{0};
};

} // namespace qxplugintest
