// xmlparse on arbitrary text: it accepts or throws, and whatever it accepts
// saves to text that reads back to the same tree and saves to the same text.
#include "fuzz/fuzz_tree.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    xmlitem_tree tree;
    if (!FuzzParse(std::string(reinterpret_cast<const char*>(data), size), tree) || tree.empty())
        return 0;
    std::string text;
    xmlsave(text, tree);
    xmlitem_tree back;
    if (!FuzzParse(text, back) || !FuzzSameTree(tree, back))
        __builtin_trap();
    std::string again;
    xmlsave(again, back);
    if (again != text)
        __builtin_trap();
    return 0;
}
