// Node-by-node equality of two item trees, for the round-trip checks.
#pragma once

#include "engine/basekit/xmlitem.h"

inline bool FuzzSameNodes(xmlitem_tree::const_iterator a, xmlitem_tree::const_iterator a_end,
                          xmlitem_tree::const_iterator b, xmlitem_tree::const_iterator b_end)
{
    for (; a != a_end && b != b_end; ++a, ++b)
        if (*a != *b || !FuzzSameNodes(a.child_begin(), a.child_end(), b.child_begin(), b.child_end()))
            return false;
    return a == a_end && b == b_end;
}

inline bool FuzzSameTree(const xmlitem_tree& a, const xmlitem_tree& b)
{
    return FuzzSameNodes(a.begin(), a.end(), b.begin(), b.end());
}

// Parses `text`; false when xmlparse refuses it.
inline bool FuzzParse(const std::string& text, xmlitem_tree& tree)
{
    try {
        xmlparse(text.data(), static_cast<long>(text.size()), tree);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
