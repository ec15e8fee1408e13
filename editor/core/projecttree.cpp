#include "editor/core/projecttree.h"

#include <algorithm>
#include <string_view>

namespace atlasdesk {

void resetToNewProject(Tree& tree)
{
    project::new_project(tree);
}

bool hasRoot(const Tree& tree)
{
    return !tree.empty();
}

std::vector<Node> textures(Tree& tree)
{
    std::vector<Node> out;
    const Node root = project::root(tree);
    for (Node it = root.child_begin(); it != root.child_end(); ++it)
        out.push_back(it);
    return out;
}

std::vector<Node> topLevel(Tree& tree)
{
    std::vector<Node> out;
    for (Node it = tree.begin(); it != tree.end(); ++it)
        out.push_back(it);
    return out;
}

const std::string* property(Node texture, const std::string& key)
{
    const Node p = project::find_property(texture, key.c_str());
    return p.is_node() ? &p->second : nullptr;
}

void setProperty(Tree& tree, Node texture, const std::string& key, const std::string& value)
{
    project::set_property(tree, texture, key.c_str(), value);
}

PropertyList properties(Node texture)
{
    PropertyList out;
    for (Node it = texture.child_begin(); it != texture.child_end(); ++it)
        out.emplace_back(it->first, it->second);
    return out;
}

Node addTextureFromFile(Tree& tree, const std::string& path)
{
    return project::add_texture_from_file(tree, path);
}

Node addBlankTexture(Tree& tree)
{
    return project::add_blank_texture(tree);
}

Node appendTextureCopy(Tree& tree, Node source)
{
    const Node root = project::root(tree);
    return tree.insert_copy(root.child_end(), source);
}

void appendTopLevelCopy(Tree& tree, Node source)
{
    tree.insert_copy(tree.end(), source);
}

bool hasTextureWithFile(Tree& tree, const std::string& path)
{
    return project::find_texture(tree, path).is_node();
}

void eraseTexture(Tree& tree, Node texture)
{
    tree.erase(texture);
}

void assignTree(Tree& to, Tree& from)
{
    to.assign(from);
}

std::string saveText(const Tree& tree)
{
    return project::to_text(tree);
}

bool parseText(const char* data, std::size_t size, Tree& tree)
{
    // The parser reports bad text by throwing; any exception means "does
    // not parse" here.
    try {
        xmlparse(data, long(size), tree);
        return true;
    } catch (...) {
        return false;
    }
}

bool parseUtf8Text(std::string text, Tree& tree)
{
    // The parser goes by the declaration, so the declaration goes; a byte
    // order mark and white space may stand before it.
    std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    start = std::min(text.find_first_not_of(" \t\r\n", start), text.size());
    if (text.compare(start, 5, "<?xml") == 0 && start + 5 < text.size() &&
        std::string_view(" \t\r\n").find(text[start + 5]) != std::string_view::npos) {
        const std::size_t end = text.find("?>", start);
        if (end != std::string::npos)
            text.erase(0, end + 2);
    }
    return parseText(text.data(), text.size(), tree);
}

std::vector<std::string> formatNames()
{
    return {std::begin(project::format_names), std::end(project::format_names)};
}

std::vector<std::string> mipChoices()
{
    return {std::begin(project::mip_counts), std::end(project::mip_counts)};
}

} // namespace atlasdesk
