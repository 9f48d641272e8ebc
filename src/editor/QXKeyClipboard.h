#pragma once

#include "editor/QXKeyAssignment.h"

#include <QByteArray>
#include <string>
#include <vector>

// The clipboard form of keys' own assignments, so keys copied in one layer can be pasted
// into another, in this program or in another running copy of it.
//
// The bytes are a property list: "Buttons" holds one entry per key, named by the key and
// written exactly as a saved layer writes its buttons (plug-in views and actions in their
// stored form); "Pictures" holds, under the same key names, each picture's PNG bytes in
// base64. Nothing here needs a widget or a running clipboard.
namespace QXKeyClipboard {

inline constexpr char kMimeType[] = "application/x-tessera-quadrix-keys";
// Clipboard data beyond this size is refused unread: 113 keys with large pictures and
// plug-in settings stay far below it.
inline constexpr qsizetype kMaxBytes = 32 * 1024 * 1024;

// The own assignments of the given keys in the layer; keys without one are left out, and
// no key with one gives empty bytes.
QByteArray encode(const QXLayer& layer, const std::vector<size_t>& keys);

struct Key {
    size_t keyIndex = 0;
    QXKeyAssignment assignment; // with new plug-in instances and its own picture
};

// The keys held in clipboard bytes, in key order. Bytes that are not ours, entries that
// name no key and pictures that do not decode are refused: the whole paste when nothing
// usable is left (empty, with the reason in refusal), otherwise only the entry, and each
// refusal is logged. A view or action whose plug-in is not installed is left out.
std::vector<Key> decode(const QByteArray& bytes, std::string* refusal = nullptr);

} // namespace QXKeyClipboard
