// The editor's window on a project tree: everything the document, the list
// and the editing commands do to a tree goes through these few calls, which
// sit on the shared project model.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "editor/core/projecttypes.h"  // Tree, Node

namespace atlasdesk {

// A texture's properties (or the combined texture of an edit), in order.
using PropertyList = std::vector<std::pair<std::string, std::string>>;

// Clears the tree and gives it the single root "CDDSprojectDs".
void resetToNewProject(Tree& tree);

// True when the tree has a first top-level node.
bool hasRoot(const Tree& tree);

// The root's children (the texture items), in tree order.  Needs a root.
std::vector<Node> textures(Tree& tree);

// The top-level nodes of a tree, in order.
std::vector<Node> topLevel(Tree& tree);

// The value of a texture's property (exact name), or null.
const std::string* property(Node texture, const std::string& key);

// Replaces the value in place, or appends the property when it is missing.
void setProperty(Tree& tree, Node texture, const std::string& key, const std::string& value);

// Every property of a texture, in order.
PropertyList properties(Node texture);

// New texture items, appended after the root's last child.
Node addTextureFromFile(Tree& tree, const std::string& path);
Node addBlankTexture(Tree& tree);

// A deep copy of `source` (from any tree) appended after the root's last child.
Node appendTextureCopy(Tree& tree, Node source);

// A deep copy of `source` appended as a top-level node of `tree`.
void appendTopLevelCopy(Tree& tree, Node source);

// The first texture whose "filename" equals `path` ignoring ASCII case.
bool hasTextureWithFile(Tree& tree, const std::string& path);

// Removes a texture item with all its properties.
void eraseTexture(Tree& tree, Node texture);

// Copies every top-level node of `from` into the cleared `to`.
void assignTree(Tree& to, Tree& from);

// The XML text of a tree, and back.  parseText returns false (the tree
// then is unspecified) when the text does not parse.
std::string saveText(const Tree& tree);
bool parseText(const char* data, std::size_t size, Tree& tree);
// The same for text that is UTF-8 whatever its declaration says, such as
// clipboard text: a declared encoding (old projects name windows-1251)
// describes bytes the text no longer has, and is not applied again.
bool parseUtf8Text(std::string text, Tree& tree);

// The names offered by the properties dialog.
std::vector<std::string> formatNames();
std::vector<std::string> mipChoices();

} // namespace atlasdesk
