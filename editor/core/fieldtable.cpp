#include "editor/core/fieldtable.h"

#include <algorithm>
#include <map>
#include <string>

namespace atlasdesk {

const Field kFieldTable[] = {
    {"name", 0, "Name", 120, 1006},
    {"d3dformat", 1, "Format", 120, 1003},
    {"miplevels", 2, "Mips", 40, 1002},
    {"filename", 3, "File", 200, 1005},
    {"comment", 4, "Comment", 200, 1004},
    {"bHigh", -1, "", 100, 1012},
    {"bMedium", -1, "", 100, 1010},
    {"bLow", -1, "", 100, 1008},
    {"HighLevel", -1, "", 100, 1011},
    {"MediumLevel", -1, "", 100, 1009},
    {"LowLevel", -1, "", 100, 1007},
    {nullptr, -1, nullptr, 0, 0},
};

namespace {

// Only ASCII letters fold: property names are ASCII, and a locale-dependent
// fold would make the index differ between machines.
char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string folded(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), asciiLower);
    return out;
}

const std::map<std::string, const Field*>& fieldIndex()
{
    static const std::map<std::string, const Field*> index = [] {
        std::map<std::string, const Field*> m;
        for (const Field* f = kFieldTable; f->name; ++f)
            m.emplace(folded(f->name), f);
        return m;
    }();
    return index;
}

} // namespace

const Field* findField(std::string_view name)
{
    const auto& index = fieldIndex();
    auto it = index.find(folded(name));
    return it == index.end() ? nullptr : it->second;
}

const Field* fieldForColumn(int column)
{
    for (const Field* f = kFieldTable; f->name; ++f)
        if (f->listColumn == column)
            return f;
    return nullptr;
}

} // namespace atlasdesk
