#include "QXCtl.h"

#include "model/QXKeyTable.h"
#include "app/QXLayoutExport.h"
#include "app/QXLiveSystemState.h"
#include "app/QXSingleInstance.h"
#include "app/QXStartupSweep.h"
#include "app/QXX11Keyboard.h"
#include "model/QXLanguageLayers.h"
#include "model/QXLayerTree.h"
#include "model/QXLayersController.h"
#include "model/QXXkbLayoutSource.h"
#include "platform/QXDispatch.h"
#include "platform/QXFiles.h"
#include "platform/QXFolders.h"
#include "platform/QXText.h"
#include "pluginhost/QXPluginRegistry.h"
#include "store/QXProfile.h"
#include "store/QXPropertyList.h"

#include <cstdio>
#include <functional>
#include <iomanip>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: qxctl [--profile DIR] COMMAND\n"
    "       qxctl --help | --version\n"
    "commands:\n"
    "  keys                       the keyboard's key table, one key a line: index, name,\n"
    "                             label, virtual key, scan code, display number, code\n"
    "                             slot, action code, action name, flags\n"
    "  tree                       the layer tree as the program sees it at start-up\n"
    "  sync                       start-up and exit: add the fixed items, write the profile\n"
    "  state                      which items are active now and which layer wins each key\n"
    "  export ITEM-ID FILE.layers write a layer or group to a .layers file\n"
    "  import FILE.layers         add a .layers file to the group \"user_layers\"\n"
    "  plist FILE                 read a property list and print it back\n"
    "  plugins [FOLDER]           the plug-ins in the program's \"Plugins\" folder (or in\n"
    "                             FOLDER): what each offers and whether its library loads\n"
    "  layer-image ITEM-ID FILE   write the picture of a layer on the whole keyboard\n"
    "  layer-from-image FILE NAME add a layer cut from such a picture to \"user_layers\"\n"
    "  dump DIR                   write the keyboard's files for the profile's layers to\n"
    "                             DIR/Tessera: the pictures with no modifier held (normal)\n"
    "                             and with Shift held (shift), and the code table\n";

std::string hex(unsigned value, int width) {
    std::ostringstream s;
    s << "0x" << std::uppercase << std::hex << std::setw(width) << std::setfill('0') << value;
    return s.str();
}

int printKeys(std::ostream& out) {
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QXKeyRecord& key = QXKeyTable::key(i);
        out << i << '\t' << toUtf8(key.name) << '\t' << toUtf8(key.label) << '\t'
            << hex(key.virtualKey, 2) << '\t' << hex(key.scanCode, 2) << '\t'
            << int(key.displayNumber) << '\t' << int(key.codeSlot) << '\t'
            << hex(key.actionCode, 2) << '\t' << toUtf8(QXKeyTable::actionDisplayName(key.actionCode))
            << '\t' << hex(key.flags, 2) << '\n';
    }
    return 0;
}

void printTree(const QXItemList& items, int depth, std::ostream& out) {
    for (const QXLayersItem::Ptr& item : items) {
        out << std::string(depth * 2, ' ') << toUtf8(item->identifier()) << '\t'
            << toUtf8(item->displayName()) << '\t' << (item->isGroup() ? "group" : "layer")
            << (item->isEnabled() ? "" : "\tdisabled") << '\n';
        printTree(item->children(), depth + 1, out);
    }
}

struct Failure {
    std::string message;
};

QXProfileFolders folders(const std::string& profileDir) {
    QXProfileFolders f = QXProfileFolders::forCurrentUser();
    if (!profileDir.empty())
        f.profile = fs::absolute(profileDir);
    return f;
}

// The profile as the program holds it between start-up and exit.
class Session {
public:
    explicit Session(const std::string& profileDir) : m_profile(folders(profileDir), QXKeyTable::names()) {
        QXPropertyNode::Ptr root = m_profile.load();
        m_root = root;
        m_tree.loadFrom(*root->findChild(u"Layers"));
        m_tree.ensureFixedItems(m_profile);
        // The language groups of the layouts the X server has (none without a display).
        QXX11Keyboard keyboard;
        QXXkbLayoutSource layouts(keyboard.installedLayouts());
        QXLanguageLayers::synchronise(*m_tree.systemLayers(), layouts);
    }

    // Writes the profile as the program does at exit; the other files go back as read.
    void save() {
        auto root = makeQX<QXPropertyNode>(u"root");
        m_tree.saveTo(*root);
        for (const char16_t* name : {u"Device", u"Applications"})
            if (QXPropertyNode::Ptr child = m_root->findChild(name))
                root->addChild(child);
        if (!m_profile.save(*root))
            throw Failure{"cannot write the profile at " + m_profile.folders().profile.string()};
    }

    QXProfile& profile() { return m_profile; }
    QXLayerTree& tree() { return m_tree; }

    QXLayersItem::Ptr item(const std::string& id) {
        QXLayersItem::Ptr found = m_tree.find(fromUtf8(id));
        if (!found)
            throw Failure{"no item \"" + id + "\" in the profile at " +
                          m_profile.folders().profile.string()};
        return found;
    }

    QXLayer::Ptr layer(const std::string& id) {
        QXLayer::Ptr found = item(id).dynamicCast<QXLayer>();
        if (!found)
            throw Failure{"\"" + id + "\" is a group, not a layer"};
        return found;
    }

    // Appends an item to the group "user_layers".
    void addToUserLayers(const QXLayersItem::Ptr& newItem) {
        QXItemList& items = m_tree.userLayers()->children();
        insertItem(items, newItem, items.empty() ? QXLayersItem::Ptr() : items.back());
    }

private:
    QXProfile m_profile;
    QXPropertyNode::Ptr m_root;
    QXLayerTree m_tree;
};

int exportItem(Session& session, const std::string& id, const std::string& file) {
    QXLayersItem::Ptr item = session.item(id);
    QXPropertyNode scratch(u"import_item_prefs");
    item->saveTo(scratch);
    std::string error;
    if (!session.profile().exportItem(*scratch.children().front(), fs::absolute(file), &error))
        throw Failure{"cannot export \"" + id + "\": " + error};
    return 0;
}

int importItem(Session& session, const std::string& file, std::ostream& out) {
    if (!isRegularFile(file))
        throw Failure{"cannot import " + file + ": no such file"};
    std::string error;
    QXPropertyNode::Ptr node = session.profile().importItem(fs::absolute(file), &error);
    if (!node)
        throw Failure{"cannot import " + file + ": " + error};
    QXLayersItem::Ptr item = createItem(*node);
    session.addToUserLayers(item);
    session.save();
    // The pictures have been copied into the profile; the unpacked archive can go.
    removeTree(session.profile().folders().temporary / toPath(item->identifier()));
    out << toUtf8(item->identifier()) << '\n';
    return 0;
}

void printItemStates(const QXItemList& items, int depth, std::ostream& out) {
    for (const QXLayersItem::Ptr& item : items) {
        out << std::string(depth * 2, ' ') << toUtf8(item->identifier()) << '\t'
            << toUtf8(item->displayName()) << '\t' << (item->isActive() ? "active" : "inactive")
            << (item->isEnabled() ? "" : "\tdisabled") << '\n';
        printItemStates(item->children(), depth + 1, out);
    }
}

std::string modifierNames(uint32_t mask) {
    static const char* const kNames[] = {"Alt", "Ctrl", "Shift", "Win",
                                         "Caps Lock", "Kana", "Num Lock", "Scroll Lock"};
    std::string names;
    for (int bit = 0; bit < 8; ++bit)
        if (mask & (1u << bit))
            names += (names.empty() ? "" : "+") + std::string(kNames[bit]);
    return names.empty() ? "none" : names;
}

int printState(Session& session, std::ostream& out) {
    QXLiveSystemState state;
    state.setUseSystemModifiers(true);
    QXSystemState::setCurrent(&state);
    QXDispatch dispatch;
    QXLayersController controller(session.tree(), dispatch);
    controller.reevaluate();
    QXSystemState::setCurrent(nullptr);

    char layout[16];
    std::snprintf(layout, sizeof layout, "%08X", state.currentLayout());
    out << "keyboard\t" << (state.isKeyboardConnected() ? "connected" : "not connected") << '\n'
        << "layout\t" << layout << '\n'
        << "modifiers\t" << modifierNames(state.modifierState()) << '\n'
        << "items\n";
    printItemStates(session.tree().topLevel(), 1, out);
    out << "keys\tpicture stack\tactive stack\n";
    const QXCompositeLayer pictures = controller.pictureStack();
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        auto name = [](const QXLayer::Ptr& layer) {
            return layer ? toUtf8(layer->identifier()) : std::string("-");
        };
        out << "  " << i << ' ' << toUtf8(QXKeyTable::key(i).name) << '\t'
            << name(pictures.winner(i)) << '\t' << name(controller.activeStack().winner(i)) << '\n';
    }
    return 0;
}

int dump(Session& session, const std::string& dir) {
    std::string error;
    if (!QXLayoutExport::dumpToFolder(session.tree(), fs::absolute(dir), &error))
        throw Failure{error};
    return 0;
}

int layerImage(Session& session, const std::string& id, const std::string& file) {
    std::string error;
    if (!QXLayoutExport::saveLayerImage(*session.layer(id), fs::absolute(file), &error))
        throw Failure{error};
    return 0;
}

int layerFromImage(Session& session, const std::string& file, const std::string& name,
                   std::ostream& out) {
    std::string error;
    QXLayer::Ptr layer = QXLayoutExport::layerFromImage(fs::absolute(file), fromUtf8(name), &error);
    if (!layer)
        throw Failure{error};
    session.addToUserLayers(layer);
    session.save();
    out << toUtf8(layer->identifier()) << '\n';
    return 0;
}

int printPlist(const std::string& file, std::ostream& out) {
    QXLoadStatus status;
    QXPropertyNode::Ptr node = loadPropertyList(file, u"plist", &status);
    if (!node)
        throw Failure{"cannot read " + file + (status == QXLoadStatus::Missing
                                                   ? ": no such file"
                                                   : ": not a readable property list")};
    out << printPropertyList(*node);
    return 0;
}

std::string uiText(bool hasUI) {
    return hasUI ? "ui" : "no ui";
}

// One plug-in a line (identifier, display name, library), its views, actions and
// conditions indented below it (identifier, display name, property page, default
// partner), then the outcome of loading its library.
int printPlugins(const fs::path& folder, std::ostream& out) {
    auto root = makeQX<QXPropertyNode>(u"root");
    QXPluginRegistry::scan(folder, *root);
    QXPluginRegistry registry;
    registry.build(*root);
    for (const QXPluginEntry::Ptr& plugin : registry.plugins()) {
        out << toUtf8(plugin->id()) << '\t' << toUtf8(plugin->displayName()) << '\t'
            << plugin->path().string() << '\n';
        for (const QXViewEntry& view : plugin->views())
            out << "  view\t" << toUtf8(view.id) << '\t' << toUtf8(view.displayName) << '\t'
                << uiText(view.hasUI) << '\t' << toUtf8(view.defaultAction) << '\n';
        for (const QXActionEntry& action : plugin->actions())
            out << "  action\t" << toUtf8(action.id) << '\t' << toUtf8(action.displayName) << '\t'
                << uiText(action.hasUI) << '\t' << toUtf8(action.defaultView) << '\n';
        for (const QXConditionEntry& condition : plugin->conditions())
            out << "  condition\t" << toUtf8(condition.id) << '\t' << toUtf8(condition.displayName)
                << '\t' << uiText(condition.hasUI) << '\n';
        plugin->ensureLoaded();
        if (plugin->loadError().empty())
            out << "  loaded\n";
        else
            out << "  error: " << toUtf8(plugin->loadError()) << '\n';
    }
    return 0;
}

// Whether the profile folder given (or none) is the one the tray program uses.
bool isUsersProfile(const std::string& profileDir) {
    if (profileDir.empty())
        return true;
    std::error_code ec;
    const fs::path given = fs::weakly_canonical(fs::absolute(profileDir), ec);
    const fs::path users = fs::weakly_canonical(QXFolders::profileFolder(), ec);
    return !ec && given == users;
}

// A running qxcfg holds the user's profile in memory and writes it whole at exit, over
// whatever was written meanwhile: a command that writes that profile takes the
// single-instance lock for as long as it runs, or leaves the work to the running copy.
// Returns the exit status when the command has been dealt with here.
std::optional<int> guardUsersProfile(std::optional<QXSingleInstance>& instance,
                                     const std::vector<std::string>& args, std::ostream& err) {
    const std::string& command = args[0];
    instance.emplace();
    if (instance->lockIfAlone()) {
        // Nothing else runs: what a killed save or import left can go.
        const QXProfileFolders folders = QXProfileFolders::forCurrentUser();
        QXStartupSweep::run(folders.profile, folders.temporary);
        return std::nullopt;
    }
    if (!instance->failure().empty())
        throw Failure{instance->failure()};
    if (command == "import") {
        if (!isRegularFile(args[1]))
            throw Failure{"cannot import " + args[1] + ": no such file"};
        if (!instance->handOverFile(args[1]))
            throw Failure{"qxcfg is running but did not take " + args[1] +
                          "; nothing was imported"};
        err << "qxctl: qxcfg is running; it took " << args[1] << " and imports it there\n";
        return 0;
    }
    throw Failure{"qxcfg is running and writes the profile at " +
                  QXFolders::profileFolder().string() + " when it ends, over any change made "
                  "now; \"" + command + "\" is refused (end qxcfg first)"};
}

} // namespace

int runQXCtl(const std::vector<std::string>& argsIn, std::ostream& out, std::ostream& err) {
    std::vector<std::string> args;
    std::string profileDir;
    for (size_t i = 0; i < argsIn.size(); ++i) {
        if (argsIn[i] == "--profile") {
            if (i + 1 >= argsIn.size()) {
                err << "qxctl: --profile needs a folder\n";
                return 2;
            }
            profileDir = argsIn[++i];
        } else if (argsIn[i].rfind("--profile=", 0) == 0) {
            profileDir = argsIn[i].substr(10);
        } else if (argsIn[i] == "--help" || argsIn[i] == "-h") {
            out << kUsage;
            return 0;
        } else if (argsIn[i] == "--version") {
            out << "qxctl (Tessera Quadrix Configurator) " QX_VERSION "\n";
            return 0;
        } else {
            args.push_back(argsIn[i]);
        }
    }
    auto usage = [&](const std::string& why) {
        err << "qxctl: " << why << "\n" << kUsage;
        return 2;
    };
    if (args.empty())
        return usage("no command given");
    const std::string& command = args[0];
    const std::map<std::string, size_t> operandCounts = {
        {"keys", 0},   {"tree", 0},        {"sync", 0},   {"state", 0},            {"export", 2},
        {"import", 1}, {"plist", 1},       {"layer-image", 2},     {"layer-from-image", 2},
        {"plugins", 0}, {"dump", 1}};
    auto known = operandCounts.find(command);
    if (known == operandCounts.end())
        return usage("unknown command \"" + command + "\"");
    const bool pluginsFolder = command == "plugins" && args.size() == 2;
    if (args.size() - 1 != known->second && !pluginsFolder)
        return usage("wrong number of arguments for \"" + command + "\"");
    try {
        if (command == "keys")
            return printKeys(out);
        if (command == "plist")
            return printPlist(args[1], out);
        if (command == "plugins")
            return printPlugins(pluginsFolder ? fs::absolute(args[1])
                                              : QXPluginRegistry::programPluginsFolder(),
                                out);
        std::optional<QXSingleInstance> instance; // holds the lock until the command ends
        const bool writesProfile =
            command == "sync" || command == "import" || command == "layer-from-image";
        if (writesProfile && isUsersProfile(profileDir))
            if (const std::optional<int> status = guardUsersProfile(instance, args, err))
                return *status;
        Session session(profileDir);
        if (command == "tree") {
            printTree(session.tree().topLevel(), 0, out);
            return 0;
        }
        if (command == "dump")
            return dump(session, args[1]);
        if (command == "state")
            return printState(session, out);
        if (command == "sync") {
            session.save();
            return 0;
        }
        if (command == "export")
            return exportItem(session, args[1], args[2]);
        if (command == "import")
            return importItem(session, args[1], out);
        if (command == "layer-image")
            return layerImage(session, args[1], args[2]);
        return layerFromImage(session, args[1], args[2], out);
    } catch (const Failure& failure) {
        err << "qxctl: " << failure.message << '\n';
        return 1;
    }
}
