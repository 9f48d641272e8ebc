#pragma once

#include "store/QXPropertyNode.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class TiXmlElement;

// Property lists: XML in the dialect of the Apple property-list DTD 1.0, limited to
// "dict", "string", "true", "false" and, for group orders, "array" of "string". Other
// value elements read as their element name ("integer" reads as the text "integer").

enum class QXLoadStatus {
    Loaded,
    Missing,    // no file at the path
    Unreadable, // a file is there but could not be read or parsed
    Empty,      // read, but without a top "dict": no entries (an empty "<plist/>", a lone tag)
};

// Reads a property list into a new node of the given name whose children are the
// file's top-level entries. An empty pointer when the file is missing or cannot be
// read; a node without children when the file has no root "dict" (status Empty).
QXPropertyNode::Ptr loadPropertyList(const std::filesystem::path& path, std::u16string name,
                                     QXLoadStatus* status = nullptr);

// Parses property-list text held in memory, as loadPropertyList does for a file.
QXPropertyNode::Ptr parsePropertyList(std::string text, std::u16string name);

// Writes the node's children as the top-level entries of a new property-list file,
// replacing the file atomically. The node's own name is not written.
bool savePropertyList(const QXPropertyNode& node, const std::filesystem::path& path);

// Called for every entry that carries a picture; no XML is written for such an entry.
using QXImageEntryWriter = std::function<void(const QXPropertyNode& entry)>;

// The same, for layer documents: entries carrying a picture go to imageWriter.
bool savePropertyList(const QXPropertyNode& node, const std::filesystem::path& path,
                      const QXImageEntryWriter& imageWriter);

// Writes a new property-list file whose top-level "dict" is filled by fill, replacing
// the file atomically.
bool savePropertyListWith(const std::filesystem::path& path,
                          const std::function<void(TiXmlElement* dict)>& fill);

// Appends an entry holding an "array" of "string" elements (the order of a group).
void writeStringArray(TiXmlElement* dict, std::u16string_view name,
                      const std::vector<std::u16string>& values);

// The text of the property list that savePropertyList would write.
std::string printPropertyList(const QXPropertyNode& node);

// Reads the entries of a "dict" element into node (replace-or-append by name).
void readDictionary(const TiXmlElement* dict, QXPropertyNode& node);

// Appends the children as entries of the "dict" element. Entries with a picture go to
// imageWriter when one is given; without one, they are written like any other entry.
void writeEntries(TiXmlElement* dict, const QXPropertyNode::Children& children,
                  const QXImageEntryWriter& imageWriter = {});
