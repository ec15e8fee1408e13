// The DDS file's on-disk records (little-endian).  Shared by the DDS reader
// and the DDS writer.
#pragma once

#include "platform/d3d8/d3d8types.h"

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "DDS records are stored in host order");

constexpr DWORD DDS_MAGIC = 0x20534444; // "DDS "

// Header flags
constexpr DWORD DDSD_CAPS = 0x1;
constexpr DWORD DDSD_HEIGHT = 0x2;
constexpr DWORD DDSD_WIDTH = 0x4;
constexpr DWORD DDSD_PITCH = 0x8;
constexpr DWORD DDSD_PIXELFORMAT = 0x1000;
constexpr DWORD DDSD_MIPMAPCOUNT = 0x20000;
constexpr DWORD DDSD_LINEARSIZE = 0x80000;
constexpr DWORD DDSD_DEPTH = 0x800000;

// Pixel format flags
constexpr DWORD DDPF_ALPHAPIXELS = 0x1;
constexpr DWORD DDPF_ALPHA = 0x2;
constexpr DWORD DDPF_FOURCC = 0x4;
constexpr DWORD DDPF_PALETTEINDEXED8 = 0x20;
constexpr DWORD DDPF_RGB = 0x40;
constexpr DWORD DDPF_LUMINANCE = 0x20000;
// Bump maps: red and green masks hold U and V, blue W, alpha Q; with
// DDPF_BUMPLUMINANCE the blue mask holds the luminance instead.
constexpr DWORD DDPF_BUMPLUMINANCE = 0x40000;
constexpr DWORD DDPF_BUMPDUDV = 0x80000;

// Caps
constexpr DWORD DDSCAPS_COMPLEX = 0x8;
constexpr DWORD DDSCAPS_TEXTURE = 0x1000;
constexpr DWORD DDSCAPS_MIPMAP = 0x400000;
constexpr DWORD DDSCAPS2_CUBEMAP = 0x200;
constexpr DWORD DDSCAPS2_VOLUME = 0x200000;

struct DdsPixelFormat {
    DWORD size;
    DWORD flags;
    DWORD fourCC;
    DWORD rgbBitCount;
    DWORD redMask;
    DWORD greenMask;
    DWORD blueMask;
    DWORD alphaMask;
};
static_assert(sizeof(DdsPixelFormat) == 32);

// The surface description that follows the 4-byte magic.
struct DdsHeader {
    DWORD size;
    DWORD flags;
    DWORD height;
    DWORD width;
    DWORD pitchOrLinearSize;
    DWORD depth;
    DWORD mipMapCount;
    DWORD alphaBitDepth;
    DWORD reserved;
    DWORD surface;
    DWORD colorKeys[8];  // destination overlay, destination blit, source overlay, source blit
    DdsPixelFormat pixelFormat;
    DWORD caps;
    DWORD caps2;
    DWORD caps3;
    DWORD caps4;
    DWORD textureStage;
};
static_assert(sizeof(DdsHeader) == 124);
static_assert(offsetof(DdsHeader, flags) == 4);
static_assert(offsetof(DdsHeader, pitchOrLinearSize) == 16);
static_assert(offsetof(DdsHeader, mipMapCount) == 24);
static_assert(offsetof(DdsHeader, colorKeys) == 40);
static_assert(offsetof(DdsHeader, pixelFormat) == 72);
static_assert(offsetof(DdsHeader, caps) == 104);
static_assert(offsetof(DdsHeader, textureStage) == 120);

// Offset of the first level's data in the file.
constexpr std::size_t DDS_DATA_OFFSET = sizeof(DWORD) + sizeof(DdsHeader);
static_assert(DDS_DATA_OFFSET == 128);
