// Writing a CDDS file from loaded project textures.
#pragma once

#include "platform/d3d8/d3d8.h"

#include <string>
#include <vector>

// One loaded project texture.
struct TextureEntry {
    std::string name;                       // upper case
    IDirect3DTexture8* texture = nullptr;   // the entry's reference, not taken over
    PALETTEENTRY* palette = nullptr;        // 256 entries or null, not taken over
    bool alpha = false;
    struct Level {
        bool used = false;
        int value = 0;
    } levels[3];                            // High, Medium, Low
};

// Builds the CDDS file `fileName` from `entries` (sorted by name in place),
// printing the progress lines.  Identical images are stored once; each
// detail level lists its items in name order; every texture's small levels
// come before all large ones.  The file is written complete or not at all.
// Throws misc::error or a C string on failure.
void CDDS_Build(const char* fileName, std::vector<TextureEntry>& entries);
