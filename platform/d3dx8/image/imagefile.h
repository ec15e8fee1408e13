// Decoded image files, before they become textures.  Each reader checks its
// input against the bytes it has, decodes into the file's own pixel format
// and records its reason through d3dx::Fail when the file is bad.
#pragma once

#include "platform/d3dx8/bytes.h"
#include "platform/d3dx8/d3dx8_internal.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace d3dx::image {

using Bytes = std::span<const BYTE>;

// One picture with the levels the file stores (one, except for DDS).  Level
// rows are top-down and tightly packed (TightRowBytes), without the 4-byte
// row padding of texture memory.
struct Picture {
    D3DXIMAGE_FILEFORMAT fileFormat = D3DXIFF_BMP;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT width = 0;
    UINT height = 0;
    std::vector<std::vector<BYTE>> levels;
    std::array<PALETTEENTRY, 256> palette{};  // P8 only; zeros past the file's entries

    // Makes level 0 for width x height of format (zero-filled) and returns
    // it; the caller has checked the sides against D3D_MAX_TEXTURE_SIZE.
    std::vector<BYTE>& AllocateTop(D3DFORMAT fmt, UINT w, UINT h);
};

// Bytes of one stored row of level `level`, and the number of rows (block
// rows for DXT).  Zero when the level does not exist.
struct TightLevel {
    std::uint64_t rowBytes = 0;
    UINT rows = 0;
    std::uint64_t size() const { return rowBytes * rows; }
};
TightLevel TightLevelOf(D3DFORMAT format, UINT width, UINT height, UINT level);

// Sides in 1..D3D_MAX_TEXTURE_SIZE; otherwise records why (naming `kind`).
bool CheckSides(const char* kind, std::int64_t width, std::int64_t height);

// printf-style reason for d3dx::Fail.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
HRESULT Bad(const char* format, ...) __attribute__((format(printf, 1, 2)));

bool LooksLikeBmp(Bytes data);
bool LooksLikeDds(Bytes data);
bool LooksLikePng(Bytes data);
bool LooksLikeJpeg(Bytes data);
bool LooksLikePnm(Bytes data);

HRESULT DecodeBmp(Bytes data, Picture& out);
HRESULT DecodeTga(Bytes data, Picture& out);
HRESULT DecodeDds(Bytes data, Picture& out);
HRESULT DecodePng(Bytes data, Picture& out);
HRESULT DecodeJpeg(Bytes data, Picture& out);
HRESULT DecodePnm(Bytes data, Picture& out);

// Recognises the file by its content (TGA, having no signature, last) and
// decodes it.
HRESULT DecodeImage(Bytes data, Picture& out);

} // namespace d3dx::image
