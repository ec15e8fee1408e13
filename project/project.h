// The project: an item tree whose root lists textures, each with its
// conversion settings as named properties.  Shared by the editor (which
// builds and saves projects) and the converter (which reads them).
#pragma once

#include <cstddef>
#include <string>

#include "engine/basekit/xmlitem.h"

namespace project {

using tree = xmlitem_tree;
using iterator = tree::iterator;
using const_iterator = tree::const_iterator;

// Names the editor writes.
inline constexpr const char* root_name = "CDDSprojectDs";
inline constexpr const char* texture_name = "file";

// The eleven texture properties, in the order a new texture carries them.
inline constexpr std::size_t property_count = 11;
extern const char* const property_names[property_count];

// Pixel formats the editor offers, in its order.
inline constexpr std::size_t format_count = 16;
extern const char* const format_names[format_count];

// Mip counts the editor offers: "Maximum", then "1" to "10".
inline constexpr std::size_t mip_count_count = 11;
extern const char* const mip_counts[mip_count_count];

// Lookups return a position that is no node (`is_node()` false) when they
// find nothing.

// Replaces the contents of `t` with one root "CDDSprojectDs" without children.
void new_project(tree& t);
// The first top-level node, whatever its name.
iterator root(tree& t);
const_iterator root(const tree& t);

// The first property of `texture` named exactly `key`.
iterator find_property(iterator texture, const char* key);
const_iterator find_property(const_iterator texture, const char* key);
// The value of that property, or `fallback` when the texture lacks it.
std::string property(const_iterator texture, const char* key, const std::string& fallback = "");
// Replaces the value of the property in place, or appends the property
// after the texture's last child.
void set_property(tree& t, iterator texture, const char* key, const std::string& value);

// The first texture whose "filename" equals `path` ignoring ASCII letter
// case; textures without "filename" are skipped.
iterator find_texture(tree& t, const std::string& path);

// Appends a texture with the eleven properties and the defaults for an
// image file: name = the part of `path` after its last "/" or "\",
// d3dformat DXT5 for a ".tga" file (any case) else DXT1, filename = `path`,
// comment = the extension (the whole file name when it has no dot).
// A tree without a root gets one first.  Returns the new texture.
iterator add_texture_from_file(tree& t, const std::string& path);
// Appends a texture with the eleven properties and blank defaults.
iterator add_blank_texture(tree& t);

// The project text (xmlsave, with 1,048,576 bytes reserved).
std::string to_text(const tree& t);
// Writes the text to `path` through a temporary file renamed into place;
// false (and the old file left as it was) when that failed.
bool save_file(const tree& t, const std::string& path);
// Maps `path` and parses it.  On success `t` holds the file's tree and true
// is returned; when the file cannot be mapped or parsed, `t` is unchanged.
bool load_file(const std::string& path, tree& t);

} // namespace project
