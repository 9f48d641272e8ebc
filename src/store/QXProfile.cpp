#include "store/QXProfile.h"

#include "platform/QXFiles.h"
#include "platform/QXFolders.h"
#include "platform/QXGuid.h"
#include "platform/QXText.h"
#include "store/QXImage.h"
#include "store/QXPropertyList.h"
#include "utility/utility.h"

#include <algorithm>
#include <set>
#include <sys/stat.h>

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
    if (status == QXLoadStatus::Unreadable && m_recovering)
        m_unreadable.push_back(path);
    return node;
}

// ---- reading -------------------------------------------------------------------------

QXPropertyNode::Ptr QXProfile::load() {
    m_unreadable.clear();
    m_recovering = true;
    auto root = makeQX<QXPropertyNode>(u"root");
    QXPropertyNode::Ptr layers = root->addChild(u"Layers");
    const fs::path folder = m_folders.profile / "Layers";
    readGroupFile(folder, *layers);
    readGroupItems(folder, *layers, 0);
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
    if (depth > kMaxDepth)
        return false;
    if (isRegularFile(folder / kGroupFile)) {
        bool file = readGroupFile(folder, node);
        return readGroupItems(folder, node, depth) && file;
    }
    if (isRegularFile(folder / kLayerFile))
        return readLayerFolder(folder, node);
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
    std::vector<std::u16string> unsafe;
    for (const QXPropertyNode::Ptr& child : order->children()) {
        // Identifiers name folders: one that could lead out of this folder is dropped.
        if (!isSafeFileName(child->name())) {
            unsafe.push_back(child->name());
            continue;
        }
        ok = readItem(folder / toPath(child->name()), *child, depth + 1) && ok;
    }
    for (const std::u16string& name : unsafe)
        order->removeChild(name);
    return ok && unsafe.empty();
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

// A group whose "Group.plist" is lost still holds its items' folders: they become its
// items again, in name order, so the next save does not prune them away.
bool QXProfile::recoverGroupItems(const fs::path& folder, QXPropertyNode& node) {
    std::vector<std::u16string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (!isFolderEntry(entry))
            continue;
        std::u16string name = fromPath(entry.path().filename());
        if (isSafeFileName(name) && (isRegularFile(entry.path() / kGroupFile) ||
                                     isRegularFile(entry.path() / kLayerFile)))
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
    return true;
}

// A layer whose "Layer.plist" is lost keeps the pictures of its keys.
void QXProfile::recoverLayerButtons(const fs::path& folder, QXPropertyNode& node) {
    QXPropertyNode::Ptr buttons;
    for (const std::u16string& key : m_keyNames) {
        if (!isRegularFile(folder / toPath(key + u".png")))
            continue;
        if (!buttons)
            buttons = node.addChild(kButtons);
        buttons->addChild(key);
    }
}

// ---- writing -------------------------------------------------------------------------

bool QXProfile::writeItem(const fs::path& parentFolder, const QXPropertyNode& node,
                          WriteMode mode) {
    return writeItem(parentFolder, node, mode, 0);
}

bool QXProfile::writeItem(const fs::path& parentFolder, const QXPropertyNode& node,
                          WriteMode mode, int depth) {
    if (depth > kMaxDepth || !isSafeFileName(node.name()))
        return false;
    const fs::path folder = parentFolder / toPath(node.name());
    if (!createFolders(folder))
        return false;

    if (isGroupNode(node)) {
        bool ok = true;
        std::vector<std::u16string> order;
        if (QXPropertyNode::Ptr items = node.findChild(kItemOrder)) {
            for (const QXPropertyNode::Ptr& child : items->children()) {
                // Children first: a crash in between leaves the old order pointing at
                // folders that are all still whole.
                if (writeItem(folder, *child, mode, depth + 1))
                    order.push_back(child->name());
                else
                    ok = false;
            }
        }
        bool saved = savePropertyListWith(folder / kGroupFile, [&](TiXmlElement* dict) {
            if (!order.empty())
                writeStringArray(dict, kItemOrder, order);
            QXPropertyNode::Children rest;
            for (const QXPropertyNode::Ptr& entry : node.children())
                if (entry->name() != kItemOrder && entry->name() != kType)
                    rest.push_back(entry);
            writeEntries(dict, rest);
        });
        return saved && ok;
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
        picturesOk = picturesOk && written;
    };
    bool saved = savePropertyList(node, folder / kLayerFile, writePicture);
    return saved && picturesOk;
}

void QXProfile::prune(const fs::path& groupFolder, const QXPropertyNode& groupNode) {
    prune(groupFolder, groupNode, 0);
}

void QXProfile::prune(const fs::path& groupFolder, const QXPropertyNode& groupNode, int depth) {
    if (depth > kMaxDepth)
        return;
    std::set<std::u16string> keep;
    QXPropertyNode::Ptr order = groupNode.findChild(kItemOrder);
    if (order)
        for (const QXPropertyNode::Ptr& child : order->children())
            keep.insert(child->name());
    std::vector<fs::path> doomed;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(groupFolder, ec))
        if (isFolderEntry(entry) && !keep.count(fromPath(entry.path().filename())))
            doomed.push_back(entry.path());
    for (const fs::path& path : doomed)
        removeTree(path);
    if (!order)
        return;
    for (const QXPropertyNode::Ptr& child : order->children())
        if (isGroupNode(*child) && isSafeFileName(child->name()))
            prune(groupFolder / toPath(child->name()), *child, depth + 1);
}

void QXProfile::moveUnreadableAside() {
    for (const fs::path& path : m_unreadable)
        if (isRegularFile(path))
            moveAside(path, ".unreadable");
    m_unreadable.clear();
}

bool QXProfile::save(const QXPropertyNode& root) {
    std::error_code ec;
    if (!fs::exists(m_folders.profile, ec)) {
        // The profile may hold protected passwords: it is the user's alone.
        createFolders(m_folders.profile);
        ::chmod(m_folders.profile.c_str(), 0700);
    }
    if (!isDirectory(m_folders.profile))
        return false;
    moveUnreadableAside();

    bool ok = true;
    if (QXPropertyNode::Ptr layers = root.findChild(u"Layers")) {
        // The top folder is always a group, whatever the node says.
        QXPropertyNode top(*layers);
        top.setName(u"Layers");
        top.addChild(kType, kGroup);
        const fs::path folder = m_folders.profile / "Layers";
        createFolders(folder);
        prune(folder, top);
        ok = writeItem(m_folders.profile, top, WriteMode::Save) && ok;
    }
    if (QXPropertyNode::Ptr device = root.findChild(u"Device"))
        ok = savePropertyList(*device, m_folders.profile / "Device.plist") && ok;
    if (QXPropertyNode::Ptr applications = root.findChild(u"Applications"))
        ok = savePropertyList(*applications, m_folders.profile / "Applications.plist") && ok;
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
