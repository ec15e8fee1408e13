// An ordered index over a static array of records, keyed by one C-string
// field of the record and compared without regard to ASCII case (the order
// of _stricmp).  Records whose key is null are left out.  The index refers
// to the records and their key strings; it copies neither.
#pragma once

#include "platform/win32/win32.h"

#include <cstddef>
#include <map>

namespace win32 {

template <class Record>
class NameIndex {
public:
    NameIndex(const char* Record::*key, const Record* records, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i)
            if (const char* name = records[i].*key)
                map_.emplace(name, &records[i]);
    }

    // The record whose key matches, or null.
    const Record* find(const char* name) const
    {
        if (!name)
            return nullptr;
        auto it = map_.find(name);
        return it == map_.end() ? nullptr : it->second;
    }
    std::size_t size() const { return map_.size(); }

private:
    struct Less {
        bool operator()(const char* a, const char* b) const { return StrICmp(a, b) < 0; }
    };
    std::map<const char*, const Record*, Less> map_;
};

} // namespace win32
