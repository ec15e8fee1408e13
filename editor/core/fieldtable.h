// The eleven texture properties the editor knows, with the list column and
// the properties-dialog control that show each one.
#pragma once

#include <string_view>

namespace atlasdesk {

struct Field {
    const char* name;     // property item name
    int listColumn;       // column of the texture list, -1 when not listed
    const char* heading;  // column heading
    int width;            // column width in pixels
    int controlId;        // control of the properties dialog
};

// In property order, ended by a row whose name is null.
extern const Field kFieldTable[];

// Number of list columns (the rows of kFieldTable with listColumn >= 0).
constexpr int kListColumns = 5;

// The field row for a property name, ignoring ASCII letter case; null when
// the name is none of the eleven.
const Field* findField(std::string_view name);

// The first field row shown in list column `column`; null when none is.
const Field* fieldForColumn(int column);

} // namespace atlasdesk
