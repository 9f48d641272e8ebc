#pragma once

#include "store/QXProfile.h"
#include "store/QXPropertyNode.h"

#include <filesystem>
#include <string>
#include <vector>

namespace storetest {

// The key names the store tests use; the store takes any list.
std::vector<std::u16string> keyNames();

// Writes a solid-colour PNG of the given size.
void writePng(const std::filesystem::path& path, unsigned r, unsigned g, unsigned b,
              unsigned size = 48);

// A readable description of where two trees differ, or "" when they are equal (names,
// values, which entries carry a picture, children in order).
std::string difference(const QXPropertyNode& a, const QXPropertyNode& b);

// A node path like "Layers/ItemOrder/user_layers"; empty pointer when absent.
QXPropertyNode::Ptr at(const QXPropertyNode::Ptr& node, const std::u16string& path);

// Children names, in order.
std::vector<std::u16string> childNames(const QXPropertyNode::Ptr& node);

// A layer item node with the given keys assigned to pictures from files.
QXPropertyNode::Ptr layerNode(const std::u16string& id, const std::u16string& displayName);

} // namespace storetest
