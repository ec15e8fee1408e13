// The TGA file's header (little-endian).  Shared by the TGA reader and the
// converter's mip-chain loader.  Built from file bytes with FromBytes, never
// by casting file bytes.
#pragma once

#include "platform/d3d8/d3d8types.h"
#include "platform/d3dx8/bytes.h"

#include <cstddef>

// Image types: the low three bits give the kind, TGA_TYPE_RLE marks
// run-length packets.
constexpr unsigned TGA_TYPE_COLOR_MAPPED = 1;
constexpr unsigned TGA_TYPE_TRUE_COLOR = 2;
constexpr unsigned TGA_TYPE_GREY = 3;
constexpr unsigned TGA_TYPE_KIND = 7;
constexpr unsigned TGA_TYPE_RLE = 8;

// Descriptor bits.
constexpr unsigned TGA_ALPHA_BITS = 0x0F;
constexpr unsigned TGA_RIGHT_TO_LEFT = 0x10;
constexpr unsigned TGA_TOP_DOWN = 0x20;
constexpr unsigned TGA_RESERVED_BITS = 0xC0;

#pragma pack(push, 1)
struct TgaHeader {
    BYTE idLength;
    BYTE colorMapType;
    BYTE imageType;
    WORD colorMapFirst;
    WORD colorMapLength;
    BYTE colorMapEntrySize;
    WORD xOrigin;
    WORD yOrigin;
    WORD width;
    WORD height;
    BYTE pixelDepth;
    BYTE descriptor;

    static TgaHeader FromBytes(const BYTE* p)
    {
        using d3dx::LoadU16;
        return {p[0],           p[1],            p[2],            LoadU16(p + 3),  LoadU16(p + 5), p[7],
                LoadU16(p + 8), LoadU16(p + 10), LoadU16(p + 12), LoadU16(p + 14), p[16],          p[17]};
    }
};
#pragma pack(pop)
static_assert(sizeof(TgaHeader) == 18);
static_assert(offsetof(TgaHeader, colorMapFirst) == 3 && offsetof(TgaHeader, colorMapEntrySize) == 7 &&
              offsetof(TgaHeader, width) == 12 && offsetof(TgaHeader, height) == 14 &&
              offsetof(TgaHeader, pixelDepth) == 16 && offsetof(TgaHeader, descriptor) == 17);
