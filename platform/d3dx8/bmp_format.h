// The BMP file's on-disk records (little-endian).  Shared by the BMP reader
// and the converter's mip-chain loader.  Records are built from file bytes
// with FromBytes, never by casting file bytes.
#pragma once

#include "platform/d3d8/d3d8types.h"
#include "platform/d3dx8/bytes.h"

#include <cstddef>

constexpr WORD BMP_MAGIC = 0x4D42;  // "BM"

// Compression codes of the information header.
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;
constexpr DWORD BI_ALPHABITFIELDS = 6;

// The 14-byte file header.
#pragma pack(push, 1)
struct BmpFileHeader {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;

    static BmpFileHeader FromBytes(const BYTE* p)
    {
        return {d3dx::LoadU16(p), d3dx::LoadU32(p + 2), d3dx::LoadU16(p + 6), d3dx::LoadU16(p + 8),
                d3dx::LoadU32(p + 10)};
    }
};
#pragma pack(pop)
static_assert(sizeof(BmpFileHeader) == 14);
static_assert(offsetof(BmpFileHeader, bfSize) == 2 && offsetof(BmpFileHeader, bfOffBits) == 10);

// The OS/2 core header: 16-bit sides, no compression, 3-byte palette
// entries.
struct BmpCoreHeader {
    DWORD bcSize;
    WORD bcWidth;
    WORD bcHeight;
    WORD bcPlanes;
    WORD bcBitCount;

    static BmpCoreHeader FromBytes(const BYTE* p)
    {
        return {d3dx::LoadU32(p), d3dx::LoadU16(p + 4), d3dx::LoadU16(p + 6), d3dx::LoadU16(p + 8),
                d3dx::LoadU16(p + 10)};
    }
};
static_assert(sizeof(BmpCoreHeader) == 12);
static_assert(offsetof(BmpCoreHeader, bcWidth) == 4 && offsetof(BmpCoreHeader, bcBitCount) == 10);

// The 40-byte information header, the start of every later kind.
struct BmpInfoHeader {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;

    static BmpInfoHeader FromBytes(const BYTE* p)
    {
        using d3dx::LoadU16, d3dx::LoadU32;
        return {LoadU32(p),      static_cast<LONG>(LoadU32(p + 4)),  static_cast<LONG>(LoadU32(p + 8)),
                LoadU16(p + 12), LoadU16(p + 14),                    LoadU32(p + 16),
                LoadU32(p + 20), static_cast<LONG>(LoadU32(p + 24)), static_cast<LONG>(LoadU32(p + 28)),
                LoadU32(p + 32), LoadU32(p + 36)};
    }
    // A core header's fields in this record; compression BI_RGB, the rest 0.
    static BmpInfoHeader FromCore(const BmpCoreHeader& c)
    {
        return {c.bcSize, c.bcWidth, c.bcHeight, c.bcPlanes, c.bcBitCount, BI_RGB, 0, 0, 0, 0, 0};
    }
};
static_assert(sizeof(BmpInfoHeader) == 40);
static_assert(offsetof(BmpInfoHeader, biWidth) == 4 && offsetof(BmpInfoHeader, biHeight) == 8 &&
              offsetof(BmpInfoHeader, biBitCount) == 14 && offsetof(BmpInfoHeader, biCompression) == 16 &&
              offsetof(BmpInfoHeader, biClrUsed) == 32);

// What the V2..V5 headers add after the 40-byte header.  BI_BITFIELDS and
// BI_ALPHABITFIELDS masks of a 40-byte header follow it in the same layout.
struct BmpHeaderExtension {
    DWORD redMask;  // V2 on
    DWORD greenMask;
    DWORD blueMask;
    DWORD alphaMask;  // V3 on
    DWORD csType;     // V4 on: colour space, endpoints, gamma
    LONG endpoints[9];
    DWORD gammaRed;
    DWORD gammaGreen;
    DWORD gammaBlue;
    DWORD intent;  // V5: rendering intent and colour profile
    DWORD profileData;
    DWORD profileSize;
    DWORD reserved;
};
static_assert(offsetof(BmpHeaderExtension, alphaMask) == 12 && offsetof(BmpHeaderExtension, csType) == 16 &&
              offsetof(BmpHeaderExtension, intent) == 68);

// The information header sizes a BMP may declare.
constexpr DWORD BMP_CORE_HEADER_SIZE = sizeof(BmpCoreHeader);
constexpr DWORD BMP_INFO_HEADER_SIZE = sizeof(BmpInfoHeader);
constexpr DWORD BMP_V2_HEADER_SIZE = BMP_INFO_HEADER_SIZE + offsetof(BmpHeaderExtension, alphaMask);
constexpr DWORD BMP_V3_HEADER_SIZE = BMP_INFO_HEADER_SIZE + offsetof(BmpHeaderExtension, csType);
constexpr DWORD BMP_OS2_V2_HEADER_SIZE = 64;  // the 40 bytes and OS/2 fields the readers ignore
constexpr DWORD BMP_V4_HEADER_SIZE = BMP_INFO_HEADER_SIZE + offsetof(BmpHeaderExtension, intent);
constexpr DWORD BMP_V5_HEADER_SIZE = BMP_INFO_HEADER_SIZE + sizeof(BmpHeaderExtension);
static_assert(BMP_V2_HEADER_SIZE == 52 && BMP_V3_HEADER_SIZE == 56 && BMP_V4_HEADER_SIZE == 108 &&
              BMP_V5_HEADER_SIZE == 124);
