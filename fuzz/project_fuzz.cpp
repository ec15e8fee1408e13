// The project model on an arbitrary project file, as the converter and the
// editor read it: every property lookup, the editor's edits, and a save
// that reads back to the same tree.
#include "fuzz/fuzz_file.h"
#include "fuzz/fuzz_tree.h"
#include "project/project.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace {

const std::string& SavePath()
{
    static const std::string path = FuzzInputFile(nullptr, 0, ".saved.xml");
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    project::tree tree;
    if (!project::load_file(FuzzInputFile(data, size, ".xml"), tree))
        return 0;

    const project::const_iterator root = project::root(std::as_const(tree));
    for (auto item = root.child_begin(); item != root.child_end(); ++item)
        for (const char* key : project::property_names) {
            const project::const_iterator found = project::find_property(item, key);
            const std::string value = project::property(item, key, "\x01");
            if (found.is_node() ? value != found->second : value != "\x01")
                __builtin_trap();
        }

    // The editor's edits on what was read: look the first few textures up by
    // their file names, change a property and add textures.
    const project::iterator first = project::root(tree).child_begin();
    std::size_t looked = 0;
    for (auto item = first; looked < 4 && item != project::root(tree).child_end(); ++item, ++looked) {
        const std::string file = project::property(item, "filename");
        if (!file.empty() && !project::find_texture(tree, file).is_node())
            __builtin_trap();
    }
    if (first.is_node())
        project::set_property(tree, first, "comment", "edited");
    project::add_blank_texture(tree);
    project::add_texture_from_file(tree, first.is_node() ? project::property(first, "filename") : "a/b.TGA");

    const std::string text = project::to_text(tree);
    project::tree back;
    if (!FuzzParse(text, back) || !FuzzSameTree(tree, back))
        __builtin_trap();
    if (!project::save_file(tree, SavePath()))
        __builtin_trap();
    project::tree loaded;
    if (!project::load_file(SavePath(), loaded) || !FuzzSameTree(tree, loaded))
        __builtin_trap();
    return 0;
}
