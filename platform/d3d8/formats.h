// The one table of pixel-format facts, and the one function that computes
// level sizes and pitches.  Everything else (DDS headers, conversion, level
// layout) reads these.
#pragma once

#include "platform/d3d8/d3d8types.h"

#include <cstdint>
#include <optional>
#include <span>

// What a format's bits mean; the converters use this to pick a pixel path.
enum class FormatKind : std::uint8_t {
    Rgb,        // unsigned colour channels, optional alpha (masks below)
    Palette,    // 8-bit index into a 256-entry palette (A8P8: plus 8-bit alpha)
    Luminance,  // L, optional alpha (the red mask holds L)
    Alpha,      // alpha only
    Bump,       // signed U, V, W, Q channels (red mask U, green V, blue W, alpha Q);
                // L6V5U5 and X8L8V8U8 carry unsigned luminance in the alpha mask
    Yuv,        // 4:2:2 packed video, two pixels in a 32-bit macro-pixel
    Block,      // DXT: 4x4 blocks
};

// The pixel-format record a DDS file of the format carries when the
// converter writes one.
enum class DdsRecord : std::uint8_t {
    None,    // not written as DDS (palettised, luminance, bump, video, X8R8G8B8 ...)
    FourCC,  // DDPF_FOURCC with the format as the code
    Rgb,     // DDPF_RGB with the bit count and masks, DDPF_ALPHAPIXELS with an alpha mask
};

struct FormatInfo {
    D3DFORMAT format;
    const char* name;   // the D3DFMT_ constant name
    FormatKind kind;
    std::uint8_t bitsPerPixel;  // 0 for block formats
    std::uint8_t blockBytes;    // bytes of one 4x4 block (DXT) or one 2x1 macro-pixel (YUV); 0 otherwise
    DWORD redMask;
    DWORD greenMask;
    DWORD blueMask;
    DWORD alphaMask;
    bool premultiplied;  // colour stored multiplied by alpha (DXT2, DXT4)
    DdsRecord dds;
    bool engineFinal;    // a format engine texture files take as it is: "-complex" converts no such source
};

// Whether texels carry alpha: an alpha mask, or the alpha half of a 16-byte
// DXT block (DXT2-DXT5; DXT1's transparent texels are not counted).
constexpr bool FormatHasAlpha(const FormatInfo& f)
{
    return f.alphaMask != 0 || (f.kind == FormatKind::Block && f.blockBytes == 16);
}

// Facts of one format, or null when the software device does not know it.
const FormatInfo* D3DFormatInfo(D3DFORMAT format);
// Every known format, in the order of the converter's format-name table,
// followed by X8R8G8B8-style formats the pipeline meets.
std::span<const FormatInfo> D3DFormatTable();

inline bool IsBlockFormat(D3DFORMAT f)
{
    const FormatInfo* info = D3DFormatInfo(f);
    return info && info->kind == FormatKind::Block;
}

// Largest side the device accepts; also the readers' limit for untrusted files.
constexpr UINT D3D_MAX_TEXTURE_SIZE = 16384;

// Geometry of one mip level.  Sizes are 64-bit: callers check them against
// what they can hold before narrowing.
struct LevelLayout {
    UINT width;           // max(1, w >> level)
    UINT height;          // max(1, h >> level)
    std::uint64_t pitch;  // bytes from one row (of blocks, for DXT) to the next
    UINT rows;            // rows of pixels, or of 4x4 blocks for DXT
    std::uint64_t size;   // pitch * rows
};

// Layout of level `level` of a w x h texture of `format`; empty when the
// format is unknown, a side is 0, the level is past the full chain, or the
// size does not fit in 64 bits.
// Rows of uncompressed formats are padded to a multiple of 4 bytes.
std::optional<LevelLayout> D3DLevelLayout(D3DFORMAT format, UINT width, UINT height, UINT level);

// Number of levels in a full chain down to 1x1: floor(log2(max(w, h))) + 1.
UINT D3DFullMipCount(UINT width, UINT height);
