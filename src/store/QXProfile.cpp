#include "store/QXProfile.h"

#include "platform/QXFiles.h"
#include "platform/QXFolders.h"
#include "platform/QXGuid.h"
#include "platform/QXText.h"
#include "store/QXImage.h"
#include "store/QXPropertyList.h"
#include "utility/utility.h"

#include "platform/QXLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Item folders nest one level per group; deeper trees can only come from a link loop.
constexpr int kMaxDepth = 64;

const std::u16string kType = u"Type";
const std::u16string kGroup = u"Group";
const std::u16string kItemOrder = u"ItemOrder";
const std::u16string kButtons = u"Buttons";
const std::u16string kImage = u"Image";
constexpr const char* kGroupFile = "Group.plist";
constexpr const char* kLayerFile = "Layer.plist";

bool isGroupNode(const QXPropertyNode& node) {
    QXPropertyNode::Ptr type = node.findChild(kType);
    return type && type->value() == kGroup;
}

void copyEntries(const QXPropertyNode& from, QXPropertyNode& to) {
    for (const QXPropertyNode::Ptr& child : from.children())
        to.addChild(child);
}

// A real folder, or a link to one, that may stand for an item.
bool isFolderEntry(const fs::directory_entry& entry) {
    std::error_code ec;
    return entry.is_directory(ec) || entry.is_symlink(ec);
}

// Anything at the path, a link or a folder included; links are not followed.
bool isThere(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

bool isLink(const fs::path& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

// Item identifiers name folders beside the files an item folder holds: a name that
// could be taken for one of those ("Group.plist", "A.png", what a failed save or a
// recovery leaves) is no identifier.
bool isItemIdentifier(std::u16string_view name) {
    if (!isSafeFileName(name))
        return false;
    auto endsWith = [&](std::u16string_view tail) {
        return name.size() >= tail.size() && name.substr(name.size() - tail.size()) == tail;
    };
    return !endsWith(u".plist") && !endsWith(u".png") &&
           name.find(u".unreadable") == std::u16string_view::npos &&
           name.find(u".tmp") == std::u16string_view::npos;
}

std::string whyUnreadable(const fs::path& path, QXLoadStatus status) {
    if (status == QXLoadStatus::Empty)
        return "it holds no entries";
    std::error_code ec;
    const fs::file_status type = fs::symlink_status(path, ec);
    if (fs::is_directory(type))
        return "a folder stands in its place";
    if (fs::is_symlink(type) && !fs::exists(path, ec))
        return "it is a link to nothing";
    if (!fs::is_regular_file(fs::status(path, ec)))
        return "it is no ordinary file";
    if (::access(path.c_str(), R_OK) != 0)
        return std::strerror(errno);
    return "it is damaged or no property list";
}

std::string errnoText(int error) {
    return error ? std::string(": ") + std::strerror(error) : std::string();
}

std::string zippingError() {
    char16_t buffer[512] = {};
    ZippingLastError(buffer, 512);
    return toUtf8(buffer);
}

} // namespace

QXProfileFolders QXProfileFolders::forCurrentUser() {
    QXProfileFolders folders;
    folders.profile = QXFolders::profileFolder();
    folders.temporary = QXFolders::temporaryFolder().value_or(fs::path());
    folders.program = QXFolders::programFolder();
    return folders;
}

QXProfile::QXProfile(QXProfileFolders folders, std::vector<std::u16string> keyNames)
    : m_folders(std::move(folders)), m_keyNames(std::move(keyNames)) {}

bool QXProfile::isKeyName(std::u16string_view name) const {
    return std::find(m_keyNames.begin(), m_keyNames.end(), name) != m_keyNames.end();
}

QXPropertyNode::Ptr QXProfile::loadFile(const fs::path& path, std::u16string name) {
    QXLoadStatus status;
    QXPropertyNode::Ptr node = loadPropertyList(path, std::move(name), &status);
    if (status == QXLoadStatus::Loaded)
        return node;
    // A file that parses but holds no top dictionary (an empty "<plist/>", a lone tag, a
    // header cut short) is as damaged as one that does not parse: reading it as empty
    // would let the next save replace a group's items with nothing.
    if ((status == QXLoadStatus::Empty || status == QXLoadStatus::Unreadable) && m_recovering) {
        m_unreadable.push_back(path);
        QXLog::warning(QXLog::kStore, "the profile file " + path.string() + " cannot be read (" +
                                          whyUnreadable(path, status) +
                                          "); the next save keeps it as " +
                                          path.filename().string() + ".unreadable");
    }
    return {};
}

// ---- reading -------------------------------------------------------------------------

QXPropertyNode::Ptr QXProfile::load() {
    m_unreadable.clear();
    m_recovering = true;
    auto root = makeQX<QXPropertyNode>(u"root");
    QXPropertyNode::Ptr layers = root->addChild(u"Layers");
    const fs::path folder = m_folders.profile / "Layers";
    if (isThere(folder)) {
        readGroupFile(folder, *layers);
        readGroupItems(folder, *layers, 0);
    } else {
        layers->addChild(kType, kGroup);
    }
    if (auto device = loadFile(m_folders.profile / "Device.plist", u"Device"))
        root->addChild(device);
    if (auto applications = loadFile(m_folders.profile / "Applications.plist", u"Applications"))
        root->addChild(applications);
    m_recovering = false;
    return root;
}

bool QXProfile::readItemFolder(const fs::path& folder, QXPropertyNode& node) {
    if (auto file = loadFile(folder / kGroupFile, node.name())) {
        node.addChild(kType, kGroup);
        copyEntries(*file, node);
        readGroupItems(folder, node, 0);
        return true;
    }
    if (auto file = loadFile(folder / kLayerFile, node.name())) {
        copyEntries(*file, node);
        attachPictures(folder, node);
        return true;
    }
    return false;
}

bool QXProfile::readItem(const fs::path& folder, QXPropertyNode& node, int depth) {
    if (depth > kMaxDepth) {
        QXLog::warning(QXLog::kStore, "the item folder " + folder.string() +
                                          " lies deeper than any group nests; it is not read");
        return false;
    }
    if (isThere(folder / kGroupFile)) {
        bool file = readGroupFile(folder, node);
        return readGroupItems(folder, node, depth) && file;
    }
    if (isThere(folder / kLayerFile))
        return readLayerFolder(folder, node);
    if (!m_recovering)
        return false;
    // Neither file: what the folder still holds says what the item was.
    if (holdsItemFolders(folder, 0)) {
        node.addChild(kType, kGroup);
        recoverGroupItems(folder, node);
        readGroupItems(folder, node, depth);
        return false;
    }
    recoverLayerButtons(folder, node);
    attachPictures(folder, node);
    return false;
}

// "Type" = "Group" comes first, then the file's entries.
bool QXProfile::readGroupFile(const fs::path& folder, QXPropertyNode& node) {
    node.addChild(kType, kGroup);
    if (QXPropertyNode::Ptr file = loadFile(folder / kGroupFile, node.name())) {
        copyEntries(*file, node);
        return true;
    }
    if (m_recovering)
        recoverGroupItems(folder, node);
    return false;
}

// Reads the items listed in the group node's "ItemOrder" from their folders.
bool QXProfile::readGroupItems(const fs::path& folder, QXPropertyNode& node, int depth) {
    QXPropertyNode::Ptr order = node.findChild(kItemOrder);
    if (!order)
        return true;
    bool ok = true;
    std::vector<std::u16string> unusable;
    for (const QXPropertyNode::Ptr& child : order->children()) {
        // Identifiers name folders: one that could lead out of this folder, or be taken
        // for one of the item's own files, is dropped.
        if (!isItemIdentifier(child->name())) {
            unusable.push_back(child->name());
            continue;
        }
        ok = readItem(folder / toPath(child->name()), *child, depth + 1) && ok;
    }
    for (const std::u16string& name : unusable) {
        order->removeChild(name);
        QXLog::warning(QXLog::kStore, "the group in " + folder.string() + " lists \"" +
                                          toUtf8(name) + "\", which is no item name; it is left out");
    }
    return ok && unusable.empty();
}

bool QXProfile::readLayerFolder(const fs::path& folder, QXPropertyNode& node) {
    QXPropertyNode::Ptr file = loadFile(folder / kLayerFile, node.name());
    if (file)
        copyEntries(*file, node);
    else if (m_recovering)
        recoverLayerButtons(folder, node);
    attachPictures(folder, node);
    return static_cast<bool>(file);
}

void QXProfile::attachPictures(const fs::path& folder, QXPropertyNode& node) {
    QXPropertyNode::Ptr buttons = node.findChild(kButtons);
    if (!buttons)
        return;
    for (const QXPropertyNode::Ptr& button : buttons->children()) {
        if (!isKeyName(button->name()))
            continue;
        fs::path picture = folder / toPath(button->name() + u".png");
        if (isRegularFile(picture))
            button->addChild(kImage, button->name(), QXImage::fromFile(picture));
    }
}

// What may be an item's folder: it holds an item file (readable or not), a file kept
// aside, a key picture, or, a few levels down and not through links, such folders.
bool QXProfile::looksLikeItemFolder(const fs::path& folder, int depth) const {
    if (isThere(folder / kGroupFile) || isThere(folder / kLayerFile))
        return true;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::u16string name = fromPath(entry.path().filename());
        if (name.find(u".unreadable") != std::u16string::npos)
            return true;
        if (name.size() > 4 && name.ends_with(u".png") && isKeyName(name.substr(0, name.size() - 4)))
            return true;
    }
    return holdsItemFolders(folder, depth + 1);
}

bool QXProfile::holdsItemFolders(const fs::path& folder, int depth) const {
    constexpr int kProbeDepth = 4;
    if (depth > kProbeDepth)
        return false;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::error_code typeError;
        if (entry.is_directory(typeError) && !entry.is_symlink(typeError) &&
            isItemIdentifier(fromPath(entry.path().filename())) &&
            looksLikeItemFolder(entry.path(), depth))
            return true;
    }
    return false;
}

// A group whose "Group.plist" is lost still holds its items' folders: they become its
// items again, the listed ones first, then the rest in name order, so the next save
// does not prune them away.
bool QXProfile::recoverGroupItems(const fs::path& folder, QXPropertyNode& node) {
    std::vector<std::u16string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (!isFolderEntry(entry))
            continue;
        std::u16string name = fromPath(entry.path().filename());
        if (isItemIdentifier(name) && looksLikeItemFolder(entry.path(), 0))
            names.push_back(name);
    }
    if (names.empty())
        return false;
    std::sort(names.begin(), names.end());
    QXPropertyNode::Ptr order = node.findChild(kItemOrder);
    if (!order)
        order = node.addChild(kItemOrder);
    for (const std::u16string& name : names)
        if (!order->findChild(name))
            order->addChild(name);
    if (!node.findChild(u"DisplayName"))
        node.addChild(u"DisplayName", u"Recovered group");
    QXLog::warning(QXLog::kStore, "the group in " + folder.string() + " was rebuilt from the " +
                                      std::to_string(names.size()) + " item folders it holds");
    return true;
}

// A layer whose "Layer.plist" is lost keeps the pictures of its keys.
void QXProfile::recoverLayerButtons(const fs::path& folder, QXPropertyNode& node) {
    QXPropertyNode::Ptr buttons;
    size_t count = 0;
    for (const std::u16string& key : m_keyNames) {
        if (!isRegularFile(folder / toPath(key + u".png")))
            continue;
        if (!buttons)
            buttons = node.addChild(kButtons);
        buttons->addChild(key);
        ++count;
    }
    if (!node.findChild(u"DisplayName"))
        node.addChild(u"DisplayName", u"Recovered layer");
    if (count)
        QXLog::warning(QXLog::kStore, "the layer in " + folder.string() +
                                          " was rebuilt from its " + std::to_string(count) +
                                          " key pictures");
}

// ---- writing -------------------------------------------------------------------------

bool QXProfile::writeItem(const fs::path& parentFolder, const QXPropertyNode& node,
                          WriteMode mode) {
    return writeItem(parentFolder, node, mode, 0, isLink(parentFolder));
}

// A failure is reported and makes the result false, but never changes what is written
// around it: the group's order still lists an item that could not be written (its old
// folder stays as it was), so a failed save loses nothing.
bool QXProfile::writeItem(const fs::path& parentFolder, const QXPropertyNode& node,
                          WriteMode mode, int depth, bool throughLink) {
    const fs::path folder = parentFolder / toPath(node.name());
    if (depth > kMaxDepth || !isItemIdentifier(node.name())) {
        QXLog::warning(QXLog::kStore, "the item \"" + toUtf8(node.name()) +
                                          "\" cannot be written: its name is no item name");
        return false;
    }
    if (!createFolders(folder)) {
        QXLog::warning(QXLog::kStore, "cannot create the item folder " + folder.string() +
                                          errnoText(errno));
        return false;
    }
    throughLink = throughLink || isLink(folder);

    if (isGroupNode(node)) {
        bool ok = true;
        std::vector<std::u16string> order;
        if (QXPropertyNode::Ptr items = node.findChild(kItemOrder)) {
            for (const QXPropertyNode::Ptr& child : items->children()) {
                // Children first: a crash in between leaves the old order pointing at
                // folders that are all still whole.
                ok = writeItem(folder, *child, mode, depth + 1, throughLink) && ok;
                if (isItemIdentifier(child->name()))
                    order.push_back(child->name());
            }
        }
        const fs::path file = folder / kGroupFile;
        bool saved = savePropertyListWith(file, [&](TiXmlElement* dict) {
            if (!order.empty())
                writeStringArray(dict, kItemOrder, order);
            QXPropertyNode::Children rest;
            for (const QXPropertyNode::Ptr& entry : node.children())
                if (entry->name() != kItemOrder && entry->name() != kType)
                    rest.push_back(entry);
            writeEntries(dict, rest);
        });
        if (!saved) {
            QXLog::warning(QXLog::kStore, "cannot write " + file.string() + errnoText(errno));
            return false;
        }
        // Only a folder whose new order is on the disk loses the folders of items that
        // left the group, and only after the whole tree is written (an item moved to
        // another group, its pictures marked changed, is copied from its old folder
        // before that folder goes); nothing reached through a link is ever deleted.
        if (mode == WriteMode::Save && !throughLink)
            m_prunable.emplace_back(folder, std::move(order));
        return ok;
    }

    bool picturesOk = true;
    auto writePicture = [&](const QXPropertyNode& entry) {
        const QXPtr<QXImage>& image = entry.image();
        std::u16string fileName = entry.value() + u".png";
        if (!isSafeFileName(fileName)) {
            picturesOk = false;
            return;
        }
        if (mode == WriteMode::Save && !image->changed())
            return;
        const fs::path target = folder / toPath(fileName);
        bool written = false;
        if (image->isLoaded()) {
            // An export must not move the picture's source into the scratch folder.
            written = mode == WriteMode::Save ? image->saveFile(target)
                                              : writeFileAtomically(target, image->encode(FIF_PNG));
        } else if (!image->sourcePath().empty()) {
            written = copyFileAtomically(image->sourcePath(), target);
            if (written && mode == WriteMode::Save)
                image->setSourcePath(target);
        }
        if (written && mode == WriteMode::Save)
            image->setChanged(false);
        if (!written)
            QXLog::warning(QXLog::kStore, "cannot write the key picture " + target.string() +
                                              errnoText(errno));
        picturesOk = picturesOk && written;
    };
    const fs::path file = folder / kLayerFile;
    bool saved = savePropertyList(node, file, writePicture);
    if (!saved)
        QXLog::warning(QXLog::kStore, "cannot write " + file.string() + errnoText(errno));
    return saved && picturesOk;
}

// Deletes the item folders of a group folder that its order no longer lists. Only names
// that are item identifiers go: files kept aside, scratch files and anything else in
// the folder stay.
void QXProfile::pruneFolder(const fs::path& groupFolder, const std::vector<std::u16string>& order) {
    std::set<std::u16string> keep(order.begin(), order.end());
    std::vector<fs::path> doomed;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(groupFolder, ec)) {
        std::u16string name = fromPath(entry.path().filename());
        if (isFolderEntry(entry) && isItemIdentifier(name) && !keep.count(name))
            doomed.push_back(entry.path());
    }
    // A link is removed itself; what it points to is left alone.
    for (const fs::path& path : doomed)
        if (!removeTree(path))
            QXLog::warning(QXLog::kStore, "cannot remove the folder of a deleted item, " +
                                              path.string());
}

void QXProfile::prune(const fs::path& groupFolder, const QXPropertyNode& groupNode) {
    prune(groupFolder, groupNode, 0);
}

void QXProfile::prune(const fs::path& groupFolder, const QXPropertyNode& groupNode, int depth) {
    if (depth > kMaxDepth || isLink(groupFolder))
        return;
    std::vector<std::u16string> order;
    QXPropertyNode::Ptr items = groupNode.findChild(kItemOrder);
    if (items)
        for (const QXPropertyNode::Ptr& child : items->children())
            order.push_back(child->name());
    pruneFolder(groupFolder, order);
    if (!items)
        return;
    for (const QXPropertyNode::Ptr& child : items->children())
        if (isGroupNode(*child) && isItemIdentifier(child->name()))
            prune(groupFolder / toPath(child->name()), *child, depth + 1);
}

// Damaged files go aside before anything is written in their place. One that cannot be
// moved is left as it is, and so is what would have replaced it.
void QXProfile::moveUnreadableAside() {
    for (const fs::path& path : m_unreadable) {
        if (!isThere(path))
            continue;
        if (auto aside = moveAside(path, ".unreadable"))
            QXLog::warning(QXLog::kStore, "kept the unreadable " + path.string() + " as " +
                                              aside->filename().string());
        else
            QXLog::warning(QXLog::kStore, "cannot move the unreadable " + path.string() +
                                              " aside" + errnoText(errno));
    }
    m_unreadable.clear();
}

bool QXProfile::save(const QXPropertyNode& root) {
    std::error_code ec;
    if (!fs::exists(m_folders.profile, ec)) {
        // The profile may hold protected passwords: it is the user's alone.
        createFolders(m_folders.profile);
        ::chmod(m_folders.profile.c_str(), 0700);
    }
    if (!isDirectory(m_folders.profile)) {
        QXLog::warning(QXLog::kStore, "the profile folder " + m_folders.profile.string() +
                                          " cannot be created; nothing was saved");
        return false;
    }
    moveUnreadableAside();

    bool ok = true;
    if (QXPropertyNode::Ptr layers = root.findChild(u"Layers")) {
        // The top folder is always a group, whatever the node says.
        QXPropertyNode top(*layers);
        top.setName(u"Layers");
        top.addChild(kType, kGroup);
        m_prunable.clear();
        ok = writeItem(m_folders.profile, top, WriteMode::Save) && ok;
        // A save that failed anywhere deletes nothing: every file that was there stays.
        if (ok)
            for (const auto& [folder, order] : m_prunable)
                pruneFolder(folder, order);
        else
            QXLog::warning(QXLog::kStore, "the layers were not all written; folders of "
                                          "deleted items are kept until a save succeeds");
        m_prunable.clear();
    }
    auto saveFile = [&](const char16_t* name, const char* fileName) {
        QXPropertyNode::Ptr node = root.findChild(name);
        if (!node)
            return;
        const fs::path file = m_folders.profile / fileName;
        if (!savePropertyList(*node, file)) {
            QXLog::warning(QXLog::kStore, "cannot write " + file.string() + errnoText(errno));
            ok = false;
        }
    };
    saveFile(u"Device", "Device.plist");
    saveFile(u"Applications", "Applications.plist");
    return ok;
}

// ---- exchange ------------------------------------------------------------------------

bool QXProfile::exportItem(const QXPropertyNode& itemNode, const fs::path& target,
                           std::string* error) {
    auto fail = [&](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    if (m_folders.temporary.empty())
        return fail("no temporary folder");
    if (!isSafeFileName(itemNode.name()))
        return fail("the item has no usable identifier");
    const fs::path scratch = m_folders.temporary / toPath(newGuid());
    if (!createFolders(scratch))
        return fail("cannot create " + scratch.string());
    writeItem(scratch, itemNode, WriteMode::Export);
    const fs::path itemFolder = scratch / toPath(itemNode.name());
    bool ok = ZippingArchiveFolder(fromPath(itemFolder).c_str(), fromPath(target).c_str()) == 1;
    std::string why = ok ? std::string() : zippingError();
    removeTree(scratch);
    return ok ? true : fail(why.empty() ? "cannot write " + target.string() : why);
}

QXPropertyNode::Ptr QXProfile::importItem(const fs::path& source, std::string* error) {
    auto fail = [&](std::string why) {
        if (error)
            *error = std::move(why);
        return QXPropertyNode::Ptr();
    };
    if (m_folders.temporary.empty())
        return fail("no temporary folder");
    const std::u16string identifier = newGuid();
    const fs::path folder = m_folders.temporary / toPath(identifier);
    if (ZippingUnarchiveFolder(fromPath(source).c_str(), fromPath(folder).c_str()) == 0) {
        std::string why = zippingError();
        removeTree(folder);
        return fail(why.empty() ? "cannot unpack " + source.string() : why);
    }
    auto node = makeQX<QXPropertyNode>(identifier);
    const bool recovering = m_recovering;
    m_recovering = false;
    bool read = readItemFolder(folder, *node);
    m_recovering = recovering;
    if (!read) {
        removeTree(folder);
        return fail("the archive holds neither a readable \"Group.plist\" nor a \"Layer.plist\"");
    }
    markPicturesChanged(*node);
    return node;
}

void markPicturesChanged(const QXPropertyNode& node) {
    for (const QXPropertyNode::Ptr& child : node.children()) {
        if (child->image())
            child->image()->setChanged(true);
        markPicturesChanged(*child);
    }
}
