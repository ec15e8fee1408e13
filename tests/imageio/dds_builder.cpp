#include "tests/imageio/dds_builder.h"

#include "platform/d3dx8/image/imagefile.h"

namespace imageio {

namespace {

void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

DdsFile MakeDds(D3DFORMAT format, UINT width, UINT height, UINT levels, std::uint32_t seed)
{
    const FormatInfo* info = D3DFormatInfo(format);
    DdsFile dds;
    dds.bytes.assign(4 + 124, 0);
    dds.bytes[0] = 'D', dds.bytes[1] = 'D', dds.bytes[2] = 'S', dds.bytes[3] = ' ';
    const std::size_t h = 4;
    Put32(dds.bytes, h, 124);
    Put32(dds.bytes, h + 4, 0x1007 | (levels > 1 ? 0x20000u : 0u));
    Put32(dds.bytes, h + 8, height);
    Put32(dds.bytes, h + 12, width);
    Put32(dds.bytes, h + 24, levels > 1 ? levels : 0);
    Put32(dds.bytes, h + 72, 32);
    std::uint32_t flags = 0;
    switch (info->kind) {
    case FormatKind::Block: flags = 0x4; break;
    case FormatKind::Palette: flags = 0x20; break;
    case FormatKind::Luminance: flags = 0x20000; break;
    case FormatKind::Alpha: flags = 0x2; break;
    case FormatKind::Yuv: flags = 0x4; break;
    // Bump records as era files store them: a luminance mask (the table's
    // alpha mask of L6V5U5 and X8L8V8U8) goes in the blue slot.
    case FormatKind::Bump: flags = info->blueMask || !info->alphaMask ? 0x80000 : 0x40000; break;
    default: flags = 0x40; break;
    }
    const bool luminanceInBlue = flags == 0x40000;
    if (info->alphaMask && info->kind != FormatKind::Alpha && !luminanceInBlue)
        flags |= 0x1;
    Put32(dds.bytes, h + 76, flags);
    if (flags == 0x4) {
        Put32(dds.bytes, h + 80, format);
    } else {
        Put32(dds.bytes, h + 84, info->bitsPerPixel);
        Put32(dds.bytes, h + 88, info->redMask);
        Put32(dds.bytes, h + 92, info->greenMask);
        Put32(dds.bytes, h + 96, luminanceInBlue ? info->alphaMask : info->blueMask);
        Put32(dds.bytes, h + 100, luminanceInBlue ? 0 : info->alphaMask);
    }
    Put32(dds.bytes, h + 104, 0x1000 | (levels > 1 ? 0x400008u : 0u));

    std::uint32_t state = seed * 2654435761u + 1;
    auto next = [&]() {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        return static_cast<BYTE>(state);
    };
    if (format == D3DFMT_P8) {
        for (PALETTEENTRY& e : dds.palette)
            e = {next(), next(), next(), next()};
        const auto* p = reinterpret_cast<const std::uint8_t*>(dds.palette.data());
        dds.bytes.insert(dds.bytes.end(), p, p + sizeof dds.palette);
    }
    for (UINT i = 0; i < levels; ++i) {
        std::vector<BYTE> level(d3dx::image::TightLevelOf(format, width, height, i).size());
        for (BYTE& b : level)
            b = next();
        dds.bytes.insert(dds.bytes.end(), level.begin(), level.end());
        dds.levels.push_back(std::move(level));
    }
    return dds;
}

} // namespace imageio
