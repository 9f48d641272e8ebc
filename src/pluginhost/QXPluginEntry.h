#pragma once

#include "pluginhost/QXPluginInterfaces.h"
#include "store/QXPropertyNode.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// What an Info.plist says of one view, action or condition of a plug-in.
struct QXSubPluginEntry {
    std::u16string id; // the sub-plugin identifier passed to the factory
    std::u16string displayName;
    std::u16string description;
    bool hasUI = false; // the instance offers a property page
};

struct QXViewEntry : QXSubPluginEntry {
    std::u16string defaultAction; // the action that goes with this view
};

struct QXActionEntry : QXSubPluginEntry {
    std::u16string defaultView; // the view that goes with this action
};

struct QXConditionEntry : QXSubPluginEntry {};

// One installed plug-in: what its Info.plist declares, and its library once loaded.
// Shared (QXPtr) between the registry and every host instance made from it; the
// library is unloaded when the last of them lets go, so no instance can outlive the
// code it runs. Used on the GUI thread only.
class QXPluginEntry : public QXTypes<QXPluginEntry> {
public:
    // From an entry of the "Plugins" dictionary: its name is the plug-in identifier;
    // "DisplayName", "Description", "Path", "Views", "Actions", "Conditions" (missing
    // keys read as empty). Within each list a later identifier replaces an earlier one
    // and goes to the end.
    explicit QXPluginEntry(const QXPropertyNode& node);
    ~QXPluginEntry();
    QXPluginEntry(const QXPluginEntry&) = delete;
    QXPluginEntry& operator=(const QXPluginEntry&) = delete;

    const std::u16string& id() const { return m_id; }
    const std::u16string& displayName() const { return m_displayName; }
    const std::u16string& description() const { return m_description; }
    const std::filesystem::path& path() const { return m_path; }

    const std::vector<QXViewEntry>& views() const { return m_views; }
    const std::vector<QXActionEntry>& actions() const { return m_actions; }
    const std::vector<QXConditionEntry>& conditions() const { return m_conditions; }
    // Exact, case-sensitive lookups; null when the plug-in declares no such entry.
    const QXViewEntry* findView(std::u16string_view id) const;
    const QXActionEntry* findAction(std::u16string_view id) const;
    const QXConditionEntry* findCondition(std::u16string_view id) const;

    // Loads the library on the first call; later calls return at once, also after a
    // failure, so a broken library is read from disk once per run. True when the
    // library is loaded (it may still lack the factory the caller needs).
    bool ensureLoaded();
    bool isLoaded() const { return m_handle != nullptr; }
    // Why loading failed (the system's text, or "No factory functions"); empty when
    // it did not fail or was not attempted.
    const std::u16string& loadError() const { return m_loadError; }

    // The library's factories; null until loaded and for those it does not export.
    QXCreateViewFunction createView() const { return m_createView; }
    QXCreateActionFunction createAction() const { return m_createAction; }
    QXCreateConditionFunction createCondition() const { return m_createCondition; }

    // A system error message without the full stop and line break it ends with. Only
    // messages longer than three characters are trimmed.
    static std::u16string trimLoadError(std::u16string_view message);

private:
    std::u16string m_id;
    std::u16string m_displayName;
    std::u16string m_description;
    std::filesystem::path m_path;
    std::vector<QXViewEntry> m_views;
    std::vector<QXActionEntry> m_actions;
    std::vector<QXConditionEntry> m_conditions;
    void* m_handle = nullptr;
    QXCreateViewFunction m_createView = nullptr;
    QXCreateActionFunction m_createAction = nullptr;
    QXCreateConditionFunction m_createCondition = nullptr;
    std::u16string m_loadError;
};
