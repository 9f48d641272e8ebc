#include "QXCtl.h"

#include "model/QXKeyTable.h"
#include "platform/QXFiles.h"
#include "platform/QXText.h"
#include "store/QXProfile.h"
#include "store/QXPropertyList.h"

#include <cstdio>
#include <functional>
#include <iomanip>
#include <map>
#include <ostream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: qxctl [--profile DIR] COMMAND\n"
    "commands:\n"
    "  keys                       the keyboard's key table, one key a line: index, name,\n"
    "                             label, virtual key, scan code, display number, code\n"
    "                             slot, action code, action name, flags\n"
    "  tree                       the layer tree of the profile\n"
    "  export ITEM-ID FILE.layers write a layer or group to a .layers file\n"
    "  import FILE.layers         add a .layers file to the group \"user_layers\"\n"
    "  plist FILE                 read a property list and print it back\n";

std::vector<std::u16string> keyNames() {
    std::vector<std::u16string> names;
    for (const QXKeyRecord& key : QXKeyTable::keys())
        names.emplace_back(key.name);
    return names;
}

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

bool isGroup(const QXPropertyNode& node) {
    return node.childValue(u"Type") == u"Group";
}

QXPropertyNode::Ptr itemsOf(const QXPropertyNode& group) {
    return group.findChild(u"ItemOrder");
}

void printTree(const QXPropertyNode& group, int depth, std::ostream& out) {
    QXPropertyNode::Ptr items = itemsOf(group);
    if (!items)
        return;
    for (const QXPropertyNode::Ptr& item : items->children()) {
        out << std::string(depth * 2, ' ') << toUtf8(item->name()) << '\t'
            << toUtf8(item->childValue(u"DisplayName")) << '\t'
            << (isGroup(*item) ? "group" : "layer")
            << (item->childValue(u"Disabled") == u"true" ? "\tdisabled" : "") << '\n';
        if (isGroup(*item))
            printTree(*item, depth + 1, out);
    }
}

// The item with this identifier anywhere in the tree, depth first.
QXPropertyNode::Ptr findItem(const QXPropertyNode& group, const std::u16string& id) {
    QXPropertyNode::Ptr items = itemsOf(group);
    if (!items)
        return {};
    for (const QXPropertyNode::Ptr& item : items->children()) {
        if (item->name() == id)
            return item;
        if (isGroup(*item))
            if (QXPropertyNode::Ptr found = findItem(*item, id))
                return found;
    }
    return {};
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

int exportItem(QXProfile& profile, const std::string& id, const std::string& file) {
    QXPropertyNode::Ptr root = profile.load();
    QXPropertyNode::Ptr item = findItem(*root->findChild(u"Layers"), fromUtf8(id));
    if (!item)
        throw Failure{"no item \"" + id + "\" in the profile at " + profile.folders().profile.string()};
    std::string error;
    if (!profile.exportItem(*item, fs::absolute(file), &error))
        throw Failure{"cannot export \"" + id + "\": " + error};
    return 0;
}

int importItem(QXProfile& profile, const std::string& file, std::ostream& out) {
    if (!isRegularFile(file))
        throw Failure{"cannot import " + file + ": no such file"};
    QXPropertyNode::Ptr root = profile.load();
    QXPropertyNode::Ptr layers = root->findChild(u"Layers");
    std::string error;
    QXPropertyNode::Ptr item = profile.importItem(fs::absolute(file), &error);
    if (!item)
        throw Failure{"cannot import " + file + ": " + error};

    QXPropertyNode::Ptr order = itemsOf(*layers);
    if (!order)
        order = layers->addChild(u"ItemOrder");
    QXPropertyNode::Ptr user = order->findChild(u"user_layers");
    if (!user) {
        user = order->addChild(u"user_layers");
        user->addChild(u"Type", u"Group");
        user->addChild(u"DisplayName", u"Layers");
        user->addChild(u"Disabled", u"false");
    }
    QXPropertyNode::Ptr userItems = itemsOf(*user);
    if (!userItems)
        userItems = user->addChild(u"ItemOrder");
    userItems->addChild(item);
    if (layers->childValue(u"DisplayName").empty())
        layers->addChild(u"DisplayName", u"root");

    bool saved = profile.save(*root);
    // The pictures have been copied into the profile; the unpacked archive can go.
    removeTree(profile.folders().temporary / toPath(item->name()));
    if (!saved)
        throw Failure{"cannot write the profile at " + profile.folders().profile.string()};
    out << toUtf8(item->name()) << '\n';
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
        {"keys", 0}, {"tree", 0}, {"export", 2}, {"import", 1}, {"plist", 1}};
    auto known = operandCounts.find(command);
    if (known == operandCounts.end())
        return usage("unknown command \"" + command + "\"");
    if (args.size() - 1 != known->second)
        return usage("wrong number of arguments for \"" + command + "\"");
    try {
        if (command == "keys")
            return printKeys(out);
        if (command == "plist")
            return printPlist(args[1], out);
        QXProfile profile(folders(profileDir), keyNames());
        if (command == "tree") {
            QXPropertyNode::Ptr root = profile.load();
            printTree(*root->findChild(u"Layers"), 0, out);
            return 0;
        }
        if (command == "export")
            return exportItem(profile, args[1], args[2]);
        return importItem(profile, args[1], out);
    } catch (const Failure& failure) {
        err << "qxctl: " << failure.message << '\n';
        return 1;
    }
}
