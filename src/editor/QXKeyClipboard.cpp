#include "editor/QXKeyClipboard.h"

#include "model/QXKeyTable.h"
#include "platform/QXLog.h"
#include "store/QXPictureDecoder.h"
#include "store/QXPropertyList.h"

#include <QString>
#include <algorithm>

namespace {

std::string narrow(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

std::u16string base64(const std::string& bytes) {
    const QByteArray raw =
        QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return QString::fromLatin1(raw.toBase64()).toStdU16String();
}

QXPtr<QXImage> pictureOf(const QXImage& stored) {
    auto picture = makeQX<QXImage>(stored);
    if (!picture->isLoaded())
        picture->loadSource();
    return picture->isLoaded() ? picture : QXPtr<QXImage>();
}

// A picture from base64 PNG text, through the bounded decoder; none with the reason.
QXPtr<QXImage> decodePicture(std::u16string_view text, std::string& refusal) {
    const auto decoded = QByteArray::fromBase64Encoding(
        QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toLatin1(),
        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        refusal = "its picture is not base64";
        return {};
    }
    const QByteArray& bytes = *decoded;
    fipImage pixels;
    if (!QXPictureDecoder::decode(
            std::span(reinterpret_cast<const unsigned char*>(bytes.data()),
                      static_cast<size_t>(bytes.size())),
            pixels, refusal))
        return {};
    if (!QXImage::to24Bits(pixels)) {
        refusal = "its picture has no colours the keyboard can show";
        return {};
    }
    auto picture = makeQX<QXImage>(pixels);
    picture->ensureKeySize();
    return picture;
}

void refuse(std::string* refusal, const std::string& reason) {
    QXLog::warning(QXLog::kEditor, "keys on the clipboard not pasted: " + reason);
    if (refusal)
        *refusal = reason;
}

} // namespace

QByteArray QXKeyClipboard::encode(const QXLayer& layer, const std::vector<size_t>& keys) {
    // The layer writes its buttons as a save would; only the chosen keys are kept.
    QXPropertyNode all(u"layer");
    layer.writeButtons(all);
    const QXPropertyNode::Ptr written = all.findChild(u"Buttons");
    if (!written)
        return {};
    QXPropertyNode root(u"clipboard");
    QXPropertyNode::Ptr buttons;
    QXPropertyNode::Ptr pictures;
    for (size_t key : keys) {
        if (key >= QXKeyTable::keyCount())
            continue;
        const std::u16string_view name = QXKeyTable::key(key).name;
        QXPropertyNode::Ptr entry = written->findChild(name);
        if (!entry)
            continue;
        if (QXPropertyNode::Ptr image = entry->findChild(u"Image")) {
            const QXPtr<QXImage> picture = image->image() ? pictureOf(*image->image()) : nullptr;
            const std::string png = picture ? picture->encode(FIF_PNG) : std::string();
            if (png.empty()) {
                QXLog::warning(QXLog::kEditor,
                               "the picture of key " + narrow(name) + " is not copied: unreadable");
                entry->removeChild(u"Image");
            } else {
                if (!pictures)
                    pictures = makeQX<QXPropertyNode>(u"Pictures");
                pictures->addChild(std::u16string(name), base64(png));
                image->setImage({}); // the text form carries the name only
            }
        }
        if (!buttons)
            buttons = root.addChild(u"Buttons");
        buttons->appendChild(entry);
    }
    if (!buttons)
        return {};
    if (pictures)
        root.appendChild(pictures);
    return QByteArray::fromStdString(printPropertyList(root));
}

std::vector<QXKeyClipboard::Key> QXKeyClipboard::decode(const QByteArray& bytes,
                                                         std::string* refusal) {
    if (bytes.isEmpty()) {
        refuse(refusal, "the clipboard holds no keys");
        return {};
    }
    if (bytes.size() > kMaxBytes) {
        refuse(refusal, "the clipboard data is larger than any copy of keys");
        return {};
    }
    const QXPropertyNode::Ptr root = parsePropertyList(bytes.toStdString(), u"clipboard");
    const QXPropertyNode::Ptr buttons = root ? root->findChild(u"Buttons") : nullptr;
    if (!buttons || !buttons->hasChildren()) {
        refuse(refusal, "the clipboard data is not a copy of keys");
        return {};
    }
    const QXPropertyNode::Ptr pictures = root->findChild(u"Pictures");
    QXPluginInstanceFactory& factory = QXPluginInstanceFactory::current();

    std::vector<Key> keys;
    std::vector<bool> seen(QXKeyTable::keyCount(), false);
    for (const QXPropertyNode::Ptr& entry : buttons->children()) {
        const std::optional<size_t> index = QXKeyTable::findKeyByName(entry->name());
        if (!index || seen[*index]) {
            QXLog::warning(QXLog::kEditor, "a clipboard entry \"" + narrow(entry->name()) +
                                               "\" is skipped: it names no key, or one again");
            continue;
        }
        Key key;
        key.keyIndex = *index;
        QXKeyAssignment& a = key.assignment;
        if (QXPropertyNode::Ptr view = entry->findChild(u"ViewPlugin")) {
            a.view = factory.createView(*view);
            if (!a.view)
                QXLog::warning(QXLog::kEditor, "the view of key " + narrow(entry->name()) +
                                                   " on the clipboard is left out: its plug-in "
                                                   "is not installed");
        } else if (entry->findChild(u"Image")) {
            const QXPropertyNode::Ptr text = pictures ? pictures->findChild(entry->name())
                                                      : QXPropertyNode::Ptr();
            std::string reason = "its picture is missing";
            a.image = text ? decodePicture(text->value(), reason) : nullptr;
            if (!a.image) {
                QXLog::warning(QXLog::kEditor, "key " + narrow(entry->name()) +
                                                   " on the clipboard is skipped: " + reason);
                continue;
            }
        }
        if (QXPropertyNode::Ptr action = entry->findChild(u"ActionPlugin"))
        {
            a.action = factory.createAction(*action);
            if (!a.action)
                QXLog::warning(QXLog::kEditor, "the action of key " + narrow(entry->name()) +
                                                   " on the clipboard is left out: its plug-in "
                                                   "is not installed");
        }
        a.scanCode = readByteValue(entry->childValue(u"ScanCode"));
        a.keystroke = entry->childValue(u"Keystroke");
        a.actionCode = readByteValue(entry->childValue(u"ActionCode", u"0"));
        a.properties = entry->findChild(u"Properties");
        if (!a.image && !a.view && !a.action && a.scanCode == 0 && a.keystroke.empty()) {
            QXLog::warning(QXLog::kEditor, "key " + narrow(entry->name()) +
                                               " on the clipboard is skipped: it assigns nothing");
            continue;
        }
        seen[*index] = true;
        keys.push_back(std::move(key));
    }
    std::sort(keys.begin(), keys.end(),
              [](const Key& l, const Key& r) { return l.keyIndex < r.keyIndex; });
    if (keys.empty())
        refuse(refusal, "no key on the clipboard could be read");
    return keys;
}
