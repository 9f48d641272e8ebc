#pragma once

#include "platform/QXSingleton.h"
#include "pluginhost/QXPluginEntry.h"

#include <filesystem>
#include <string_view>
#include <vector>

// The installed plug-ins: what each offers, and its library, loaded on first use.
//
// Filled once per profile load: scan() reads the plug-in folders into the "Plugins"
// dictionary of the in-memory root property list, build() makes the entries from it.
// The program's registry is instance(); tests make their own. GUI thread only.
class QXPluginRegistry : public singleton<QXPluginRegistry> {
public:
    QXPluginRegistry() = default;
    ~QXPluginRegistry() = default;
    QXPluginRegistry(const QXPluginRegistry&) = delete;
    QXPluginRegistry& operator=(const QXPluginRegistry&) = delete;

    // The program folder's "Plugins".
    static std::filesystem::path programPluginsFolder();

    // Reads every sub-folder of pluginsFolder that holds a readable "Info.plist" with a
    // non-empty top dictionary into root's "Plugins" (created when missing). Only the
    // first entry of that dictionary counts: its key is the plug-in identifier, and its
    // "Path" is set to <sub-folder>/<sub-folder name>.so. Sub-folders are read in the
    // order of their names (byte order), so the result does not depend on the file
    // system; when two declare the same identifier the later one replaces the earlier
    // and goes to the end. Anything unreadable is skipped without a word; a missing
    // folder gives no plug-ins.
    static void scan(const std::filesystem::path& pluginsFolder, QXPropertyNode& root);

    // Adds an entry for every entry of root's "Plugins", in order.
    void build(const QXPropertyNode& root);
    // An entry whose identifier is already listed replaces it, at the end of the list.
    void add(QXPluginEntry::Ptr entry);
    // Drops the list; libraries are unloaded as soon as no instance holds their entry.
    void clear() { m_plugins.clear(); }

    // The entry with exactly this identifier, or empty.
    QXPluginEntry::Ptr find(std::u16string_view id) const;
    // All entries in list order (for the editor's menus).
    const std::vector<QXPluginEntry::Ptr>& plugins() const { return m_plugins; }

private:
    std::vector<QXPluginEntry::Ptr> m_plugins;
};
