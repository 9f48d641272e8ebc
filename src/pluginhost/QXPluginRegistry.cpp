#include "pluginhost/QXPluginRegistry.h"

#include "platform/QXFolders.h"
#include "platform/QXText.h"
#include "store/QXPropertyList.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

fs::path QXPluginRegistry::programPluginsFolder() {
    return QXFolders::programFolder() / "Plugins";
}

void QXPluginRegistry::scan(const fs::path& pluginsFolder, QXPropertyNode& root) {
    QXPropertyNode::Ptr plugins = root.findChild(u"Plugins");
    if (!plugins)
        plugins = root.addChild(u"Plugins");

    std::vector<fs::path> folders;
    std::error_code ec;
    for (fs::directory_iterator it(pluginsFolder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec))
            folders.push_back(it->path());
    std::sort(folders.begin(), folders.end());

    for (const fs::path& folder : folders) {
        QXPropertyNode::Ptr info = loadPropertyList(folder / "Info.plist", u"temp_prefs");
        if (!info || !info->hasChildren())
            continue;
        QXPropertyNode::Ptr plugin = info->children().front();
        if (!plugin)
            continue;
        const fs::path name = folder.filename();
        plugin->addChild(u"Path", fromPath(folder / name.string().append(".so")));
        plugins->removeChild(plugin->name()); // the later folder wins, at the end
        plugins->addChild(plugin);
    }
}

void QXPluginRegistry::build(const QXPropertyNode& root) {
    QXPropertyNode::Ptr plugins = root.findChild(u"Plugins");
    if (!plugins)
        return;
    for (const QXPropertyNode::Ptr& plugin : plugins->children())
        if (plugin)
            add(makeQX<QXPluginEntry>(*plugin));
}

void QXPluginRegistry::add(QXPluginEntry::Ptr entry) {
    if (!entry)
        return;
    std::erase_if(m_plugins, [&](const QXPluginEntry::Ptr& e) { return e->id() == entry->id(); });
    m_plugins.push_back(std::move(entry));
}

QXPluginEntry::Ptr QXPluginRegistry::find(std::u16string_view id) const {
    for (const QXPluginEntry::Ptr& entry : m_plugins)
        if (entry->id() == id)
            return entry;
    return {};
}
