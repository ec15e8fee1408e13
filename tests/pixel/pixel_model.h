// A model of what each pixel format stores, written for the tests from the
// formats' bit layouts and kept apart from the library's own code, plus
// helpers to make, fill and read textures.
#pragma once

#include "platform/d3d8/comptr.h"
#include "platform/d3d8/d3d8.h"

#include <cstdint>
#include <vector>

namespace model {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 1;
    bool tie = false;  // some rounding on the way was an exact half
};

struct Image {
    UINT width = 0, height = 0;
    std::vector<Rgba> pixels;
    Rgba& at(UINT x, UINT y) { return pixels[std::size_t(y) * width + x]; }
    const Rgba& at(UINT x, UINT y) const { return pixels[std::size_t(y) * width + x]; }
};

// Formats of the converter's format-name table.
std::vector<D3DFORMAT> AllFormats();
std::vector<D3DFORMAT> UncompressedFormats();
bool IsBlock(D3DFORMAT f);
bool IsYuv(D3DFORMAT f);
bool IsPalette(D3DFORMAT f);
const char* Name(D3DFORMAT f);

// What a texture of `format` holds after `image` was written into it.
Image Store(D3DFORMAT format, const Image& image, const PALETTEENTRY* palette);
// Reads the stored bytes of an uncompressed level.
Image Decode(D3DFORMAT format, const std::uint8_t* bits, std::size_t pitch, UINT width, UINT height,
             const PALETTEENTRY* palette);
// Studio-range 4:2:2 macro-pixel to colours, without clamping, for choosing
// pairs inside the gamut.
void DecodeYuvUnclamped(int y, int cb, int cr, double rgb[3]);

// Deterministic pseudo-random numbers.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t Next()
    {
        state_ ^= state_ << 13, state_ ^= state_ >> 17, state_ ^= state_ << 5;
        return state_;
    }
    int Byte() { return static_cast<int>(Next() >> 24); }

private:
    std::uint32_t state_;
};

Image RandomImage(UINT width, UINT height, std::uint32_t seed);
std::vector<PALETTEENTRY> RandomPalette(std::uint32_t seed);

// 8-bit rounding of every channel, as A8R8G8B8 would hold it.
std::uint32_t ToArgb(const Rgba& c);
Rgba FromArgb(std::uint32_t argb);

// Textures on a software device.
class Textures {
public:
    Textures();
    ~Textures();
    ComPtr<IDirect3DTexture8> Make(D3DFORMAT format, UINT width, UINT height, UINT levels = 1);
    // A8R8G8B8 texture holding the 8-bit rounding of `image`.
    ComPtr<IDirect3DTexture8> FromImage(const Image& image);

private:
    ComPtr<IDirect3D8> d3d_;
    ComPtr<IDirect3DDevice8> device_;
};

ComPtr<IDirect3DSurface8> Level(IDirect3DTexture8* texture, UINT level = 0);
std::vector<std::uint8_t> Bytes(IDirect3DTexture8* texture, UINT level = 0);
// Stored bytes of a level decoded by the model (uncompressed formats).
Image Read(IDirect3DTexture8* texture, const PALETTEENTRY* palette, UINT level = 0);
// Level converted to A8R8G8B8 by the library, as 0xAARRGGBB values.
std::vector<std::uint32_t> ReadArgb(IDirect3DTexture8* texture, const PALETTEENTRY* palette, UINT level = 0);

} // namespace model
