#include "PluginTestSupport.h"

#include "platform/QXMessages.h"
#include "platform/QXText.h"
#include "store/QXPropertyList.h"

#include <dlfcn.h>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qxplugintest {

fs::path pluginsFolder() {
    return QX_TEST_PLUGINS_DIR;
}

PluginControl::PluginControl(const std::string& name) {
    const fs::path library = pluginsFolder() / name / (name + ".so");
    m_handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!m_handle)
        throw std::runtime_error(name + " is not loaded");
}

PluginControl::~PluginControl() {
    dlclose(m_handle);
}

void* PluginControl::symbol(const char* name) const {
    void* found = dlsym(m_handle, name);
    if (!found)
        throw std::runtime_error(std::string("the test plug-in lacks ") + name);
    return found;
}

std::vector<std::string> PluginControl::takeLog() {
    auto take = reinterpret_cast<size_t (*)(char*, size_t)>(symbol("qxTestTakeLog"));
    std::string text(1 << 16, '\0');
    text.resize(std::min(take(text.data(), text.size()), text.size() - 1));
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

void PluginControl::redraw() {
    reinterpret_cast<void (*)()>(symbol("qxTestRedraw"))();
}

void PluginControl::setConditions(int state) {
    reinterpret_cast<void (*)(int32_t)>(symbol("qxTestSetConditions"))(state);
}

void PluginControl::finishReleases() {
    reinterpret_cast<void (*)()>(symbol("qxTestFinishReleases"))();
}

std::vector<std::string> matching(const std::vector<std::string>& log, const std::string& prefix) {
    std::vector<std::string> lines;
    for (const std::string& line : log)
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line);
    return lines;
}

HostFixture::HostFixture() {
    QXDispatch::setCurrent(&m_dispatch);
    auto root = makeQX<QXPropertyNode>(u"root");
    QXPluginRegistry::scan(pluginsFolder(), *root);
    m_registry.build(*root);
    QXPluginInstanceFactory::setCurrent(&m_factory);
    m_dispatch.RegisterHandler(QXM_VIEW_IMAGE_CHANGED, this, &HostFixture::imageChanged);
    m_dispatch.RegisterHandler(QXM_CONDITIONS_CHANGED, this, &HostFixture::conditionsChanged);
}

HostFixture::~HostFixture() {
    QXPluginInstanceFactory::setCurrent(nullptr);
    QXDispatch::setCurrent(nullptr);
}

QXLayer::Ptr HostFixture::readLayer(const std::string& plist, const std::u16string& id) {
    QXPropertyNode::Ptr node = parsePropertyList(plist, id);
    if (!node)
        throw std::runtime_error("not a property list:\n" + plist);
    return createItem(*node).dynamicCast<QXLayer>();
}

std::string HostFixture::layerText(const std::vector<Key>& keys, const std::string& conditions) {
    std::string text = "<plist version=\"1.0\"><dict><key>DisplayName</key><string>Plug-in layer"
                       "</string>";
    if (!conditions.empty())
        text += "<key>Conditions</key><dict>" + conditions + "</dict>";
    text += "<key>Buttons</key><dict>";
    for (const Key& key : keys) {
        text += "<key>" + key.name + "</key><dict>";
        if (!key.view.empty())
            text += "<key>ViewPlugin</key><dict>" + key.view + "</dict>";
        if (!key.action.empty())
            text += "<key>ActionPlugin</key><dict>" + key.action + "</dict>";
        text += "</dict>";
    }
    return text + "</dict></dict></plist>";
}

std::string
HostFixture::plugin(const std::string& pluginId, const std::string& subPluginId,
                    const std::vector<std::pair<std::string, std::string>>& properties) {
    std::string text = "<key>PluginID</key><string>" + pluginId +
                       "</string><key>SubPluginID</key><string>" + subPluginId + "</string>";
    if (!properties.empty()) {
        text += "<key>PluginProperties</key><dict>";
        for (const auto& [name, value] : properties)
            text += "<key>" + name + "</key><string>" + value + "</string>";
        text += "</dict>";
    }
    return text;
}

void HostFixture::imageChanged(const void* view, long key) {
    Frame frame{view, key, {}};
    if (QXPtr<QXViewPluginInstance> live = QXViewPluginInstance::live(view)) {
        frame.pixels.resize(QXViewPluginInstance::kImageBytes);
        if (!live->copyImage(std::span<unsigned char, QXViewPluginInstance::kImageBytes>(
                frame.pixels.data(), QXViewPluginInstance::kImageBytes)))
            frame.pixels.clear();
    }
    std::lock_guard lock(m_mutex);
    m_frames.push_back(std::move(frame));
}

std::vector<HostFixture::Frame> HostFixture::frames() const {
    std::lock_guard lock(m_mutex);
    return m_frames;
}

size_t HostFixture::frameCount() const {
    std::lock_guard lock(m_mutex);
    return m_frames.size();
}

} // namespace qxplugintest
