// CDDS reader: whatever File::Open accepts must be safe to walk completely.
#include "engine/basekit/dprintf.h"
#include "engine/geobase/cdds.h"
#include "fuzz/fuzz_file.h"
#include "misc/misc.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    pDPrintOutputProc = [](const char*) {};
    misc::mmf map;
    const cdds::File* file = cdds::File::Open(FuzzInputFile(data, size).c_str(), map);
    if (!file)
        return 0;
    volatile std::uint32_t sink = 0;
    for (int level = 0; level < cdds::File::kLevels; ++level)
        for (int i = 0; const cdds::Item* item = file->GetTexture(i, level); ++i) {
            if (!file->GetTexture(item->name, level))
                __builtin_trap();
            const cdds::Texture* texture = item->texture.get();
            for (std::uint32_t k = 0; k < texture->size(); ++k) {
                const cdds::Surface& s = texture->surfaces[k];
                if (s.size != 0)
                    sink = sink + s.data.get()[0] + s.data.get()[s.size - 1];
            }
            if (item->palette)
                sink = sink + item->palette.get()[255].peBlue;
        }
    return 0;
}
