#pragma once

#include "store/QXPropertyNode.h"

#include <filesystem>
#include <string>
#include <vector>

// The folders a profile lives in.
struct QXProfileFolders {
    std::filesystem::path profile;   // the user's profile; "Layers", "Device.plist", ...
    std::filesystem::path temporary; // the program's temporary folder (exports, imports)
    std::filesystem::path program;   // the program folder ("Plugins", shipped item folders)

    // The folders of the current user and the running program. The temporary folder
    // is created (mode 0700); it is empty when that failed.
    static QXProfileFolders forCurrentUser();
};

// The profile folder on disk and the tree of property nodes it reads into and writes
// from:
//   root
//   ├─ "Layers"        the layer tree: the root group ("Layers" folder, "Group.plist"),
//   │                  whose "ItemOrder" holds the item nodes, groups recursively
//   ├─ "Device"        "Device.plist"
//   └─ "Applications"  "Applications.plist"
// An item node is named by the item's identifier, which is also its folder's name. A
// group node carries "Type" = "Group" (never stored; added when read). In a layer
// node each button's "Image" entry carries its picture, stored as "<key name>.png".
//
// Readers yield what they can and writers skip what they cannot write; every recovery
// and every failure is reported through the log (category "qx.store"). A profile file
// that is there but cannot be read (damaged, empty, without a top dictionary, a folder
// in its place) is kept as "<name>.unreadable" before the save writes a new one, a group
// whose "Group.plist" is lost gets its items back from the item folders it still holds,
// and a layer whose "Layer.plist" is lost keeps its pictures, at every depth. A save
// never drops an item it could not write from its group's order, deletes the folders of
// items that left the tree only when everything was written, and never deletes
// anything reached through a link: a damaged or unwritable file never takes the user's
// layers with it.
class QXProfile {
public:
    // keyNames: the names of the keyboard's keys in key-table order; buttons are
    // stored under these names and their pictures in "<name>.png".
    QXProfile(QXProfileFolders folders, std::vector<std::u16string> keyNames);

    const QXProfileFolders& folders() const { return m_folders; }

    // Reads the profile: "Layers" (always present, possibly empty), then "Device" and
    // "Applications" when their files could be read.
    QXPropertyNode::Ptr load();

    // Writes the profile from a root node as load() makes it: writes the tree (pictures
    // only when marked changed), then, when all of it was
    // written, prunes the folders of items no longer in the tree; then "Device.plist"
    // and "Applications.plist" when the root has those children. Returns false when
    // something could not be written.
    bool save(const QXPropertyNode& root);

    // Reads an item folder: "Group.plist" first, else "Layer.plist". False when the
    // folder holds neither readable file (the node then stays as it was).
    bool readItemFolder(const std::filesystem::path& folder, QXPropertyNode& node);

    // Writes an item node into parentFolder/<node name>. On an export every picture is
    // written and the pictures' marks are left alone; on a save only pictures marked
    // changed are written, and their marks are then cleared.
    enum class WriteMode { Save, Export };
    bool writeItem(const std::filesystem::path& parentFolder, const QXPropertyNode& node,
                   WriteMode mode);

    // Deletes every item folder of a group folder that is not one of its items, then
    // does the same in each child group's folder; linked folders are left alone.
    void prune(const std::filesystem::path& groupFolder, const QXPropertyNode& groupNode);

    // Writes the item node into a ".layers" file (a zip of the item's folder). On
    // failure, error says why.
    bool exportItem(const QXPropertyNode& itemNode, const std::filesystem::path& target,
                    std::string* error = nullptr);

    // Reads a ".layers" file into a new item node named by a new identifier; all its
    // pictures are marked changed. The unpacked files stay in the temporary folder,
    // since the pictures refer to them until the next save. Empty on failure, with
    // error saying why.
    QXPropertyNode::Ptr importItem(const std::filesystem::path& source,
                                   std::string* error = nullptr);

    // Files found unreadable by load(), not yet moved aside by a save.
    const std::vector<std::filesystem::path>& unreadableFiles() const { return m_unreadable; }

    bool isKeyName(std::u16string_view name) const;

private:
    bool readGroupFile(const std::filesystem::path& folder, QXPropertyNode& node);
    bool readGroupItems(const std::filesystem::path& folder, QXPropertyNode& node, int depth);
    bool readLayerFolder(const std::filesystem::path& folder, QXPropertyNode& node);
    bool readItem(const std::filesystem::path& folder, QXPropertyNode& node, int depth);
    bool recoverGroupItems(const std::filesystem::path& folder, QXPropertyNode& node);
    void recoverLayerButtons(const std::filesystem::path& folder, QXPropertyNode& node);
    void attachPictures(const std::filesystem::path& folder, QXPropertyNode& node);
    bool writeItem(const std::filesystem::path& parentFolder, const QXPropertyNode& node,
                   WriteMode mode, int depth, bool throughLink);
    void prune(const std::filesystem::path& groupFolder, const QXPropertyNode& groupNode,
               int depth);
    void pruneFolder(const std::filesystem::path& groupFolder,
                     const std::vector<std::u16string>& order);
    bool looksLikeItemFolder(const std::filesystem::path& folder, int depth) const;
    bool holdsItemFolders(const std::filesystem::path& folder, int depth) const;
    QXPropertyNode::Ptr loadFile(const std::filesystem::path& path, std::u16string name);
    void moveUnreadableAside();

    QXProfileFolders m_folders;
    std::vector<std::u16string> m_keyNames;
    std::vector<std::filesystem::path> m_unreadable;
    bool m_recovering = false; // load() repairs damaged folders; imports do not
    // Group folders written by the running save, with their new orders.
    std::vector<std::pair<std::filesystem::path, std::vector<std::u16string>>> m_prunable;
};

// Marks every picture in the node's subtree changed (imports, seeded items).
void markPicturesChanged(const QXPropertyNode& node);
