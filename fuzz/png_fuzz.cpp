// The direct reader of plain PNG pictures beside libpng: whatever it
// accepts, libpng must read to the same picture.  Chunk CRCs are made right
// before reading, so that changed bytes reach the chunks' contents instead
// of stopping at the CRC check.
#include "platform/d3dx8/image/png_read.h"

#include <libdeflate.h>

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> png(data, data + size);
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = std::uint32_t(png[at]) << 24 | std::uint32_t(png[at + 1]) << 16 |
                                     std::uint32_t(png[at + 2]) << 8 | png[at + 3];
        if (length > png.size() - at - 12)
            break;
        const std::uint32_t crc = libdeflate_crc32(0, &png[at + 4], std::size_t{length} + 4);
        for (int i = 0; i < 4; ++i)
            png[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        at += std::size_t{length} + 12;
    }
    d3dx::image::Picture plain, reference;
    const d3dx::image::Bytes bytes(png.data(), png.size());
    if (!d3dx::image::DecodePlainPng(bytes, plain))
        return 0;
    if (FAILED(d3dx::image::DecodePngWithLibpng(bytes, reference)))
        __builtin_trap();
    if (plain.format != reference.format || plain.width != reference.width || plain.height != reference.height ||
        plain.levels != reference.levels)
        __builtin_trap();
    return 0;
}
