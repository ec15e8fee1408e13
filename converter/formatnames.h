// The format names the converter accepts on its command line and in
// projects: the D3DFMT_ constant names, matched without regard to case.
#pragma once

#include "platform/d3d8/d3d8types.h"
#include "platform/win32/name_index.h"

struct FormatName {
    const char* name;
    D3DFORMAT format;
};

// 32 named records in the table's fixed order, then a record with a null
// name that closes it.
extern const FormatName FormatNameTable[33];

// Built during program start-up; never changes.
extern const win32::NameIndex<FormatName> FormatNameIndex;

// The format of a name, or D3DFMT_DXT1 for an unknown or null name.
D3DFORMAT FormatFromName(const char* name);
