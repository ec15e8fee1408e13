#include "project/project.h"

#include <cstring>
#include <exception>

#include "misc/misc.h"
#include "misc/mmf_write.h"
#include "platform/win32/win32.h"

namespace project {

const char* const property_names[property_count] = {
    "name",  "d3dformat", "miplevels", "filename",  "comment",     "bHigh",
    "bMedium", "bLow",    "HighLevel", "MediumLevel", "LowLevel",
};

const char* const format_names[format_count] = {
    "D3DFMT_A8R8G8B8", "D3DFMT_X8R8G8B8", "D3DFMT_R5G6B5",   "D3DFMT_X1R5G5B5",
    "D3DFMT_A1R5G5B5", "D3DFMT_A4R4G4B4", "D3DFMT_P8",       "D3DFMT_V8U8",
    "D3DFMT_L6V5U5",   "D3DFMT_X8L8V8U8", "D3DFMT_Q8W8V8U8", "D3DFMT_DXT1",
    "D3DFMT_DXT2",     "D3DFMT_DXT3",     "D3DFMT_DXT4",     "D3DFMT_DXT5",
};

const char* const mip_counts[mip_count_count] = {
    "Maximum", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
};

namespace {

// The eleven values of a new texture, in property order.
iterator append_texture(tree& t, const std::string (&values)[property_count])
{
    if (!root(t).is_node())
        new_project(t);
    iterator texture = t.append_child(root(t), xmlitem(texture_name, nullptr));
    for (std::size_t i = 0; i < property_count; ++i)
        t.append_child(texture, xmlitem(property_names[i], values[i].c_str()));
    return texture;
}

} // namespace

void new_project(tree& t)
{
    t.clear();
    t.push_back(xmlitem(root_name, nullptr));
}

iterator root(tree& t)
{
    return t.begin();
}

const_iterator root(const tree& t)
{
    return t.begin();
}

iterator find_property(iterator texture, const char* key)
{
    return tree::find_child(texture, key);
}

const_iterator find_property(const_iterator texture, const char* key)
{
    return tree::find_child(texture, key);
}

std::string property(const_iterator texture, const char* key, const std::string& fallback)
{
    const_iterator p = find_property(texture, key);
    return p.is_node() ? p->second : fallback;
}

void set_property(tree& t, iterator texture, const char* key, const std::string& value)
{
    iterator p = find_property(texture, key);
    if (p.is_node())
        p->second = value;
    else
        t.append_child(texture, xmlitem(key, value.c_str()));
}

iterator find_texture(tree& t, const std::string& path)
{
    iterator r = root(t);
    for (iterator texture = r.child_begin(); texture != r.child_end(); ++texture) {
        iterator file = find_property(texture, "filename");
        if (file.is_node() && win32::StrICmp(file->second.c_str(), path.c_str()) == 0)
            return texture;
    }
    return r.child_end();
}

iterator add_texture_from_file(tree& t, const std::string& path)
{
    std::size_t slash = path.find_last_of("/\\");
    std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    std::size_t dot = file.rfind('.');
    std::string extension = dot == std::string::npos ? file : file.substr(dot + 1);
    const char* format = win32::StrICmp(extension.c_str(), "tga") == 0 ? "D3DFMT_DXT5" : "D3DFMT_DXT1";
    const std::string values[property_count] = {file, format, "Maximum", path, extension, "1", "1", "1", "0", "1", "2"};
    return append_texture(t, values);
}

iterator add_blank_texture(tree& t)
{
    const std::string values[property_count] = {"", "D3DFMT_DXT1", "Maximum", "", "", "1", "1", "1", "0", "1", "2"};
    return append_texture(t, values);
}

std::string to_text(const tree& t)
{
    std::string text;
    text.reserve(1048576);
    xmlsave(text, t);
    return text;
}

bool save_file(const tree& t, const std::string& path)
{
    std::string text = to_text(t);
    try {
        misc::mmf_write image(1);
        image.open(path.c_str(), text.size());
        if (!text.empty())
            std::memcpy(image.place(text.size()), text.data(), text.size());
        image.close();
        return true;
    } catch (...) {
        return false;
    }
}

bool load_file(const std::string& path, tree& t)
{
    misc::mmf map;
    if (!map.open(path.c_str(), true))
        return false;
    try {
        tree parsed;
        xmlparse(static_cast<const char*>(map.data()), static_cast<long>(map.size()), parsed);
        t = std::move(parsed);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace project
