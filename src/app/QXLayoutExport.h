#pragma once

#include "model/QXLayerTree.h"

#include <filesystem>
#include <string>

// Layers leaving the program as pictures or as the keyboard's own files, and coming
// back from a picture. Shared by the editor's Export and Import menus and by qxctl.
namespace QXLayoutExport {

// Writes the keyboard's files for the tree into folder/"Tessera": the pictures with no
// modifier held ("normal") and with Shift held ("shift"), and the code table, as the
// keyboard would show them with the keyboard connected and nothing else held. The tree
// is evaluated on a copy, so a running program's layers, instances and stacks are not
// touched. False with the reason in error when a file could not be written.
bool dumpToFolder(const QXLayerTree& tree, const std::filesystem::path& folder, std::string* error);

// Writes the layer's keys as one picture of the whole keyboard (the layout picture);
// the format follows the file's extension. False with the reason in error.
bool saveLayerImage(const QXLayer& layer, const std::filesystem::path& file, std::string* error);

// A new layer named name cut from a layout picture, not yet in any list; none with the
// reason in error when the picture cannot be read or is not the layout picture's size.
QXLayer::Ptr layerFromImage(const std::filesystem::path& file, std::u16string name, std::string* error);

} // namespace QXLayoutExport
