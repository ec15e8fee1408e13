// Row converters between the stored pixels of one uncompressed format and a
// wide RGBA intermediate.
//
// The intermediate holds every channel as a double in [0, 1]: wide enough
// that 8, 10 and 16-bit values come back exactly and that a conversion
// between two bit depths rounds to the nearest value of the target (an
// 8-bit value taken to 5 bits and back is the nearest value 5 bits hold).
// Halves round up.
//
// How channels map:
// - Colour formats: red, green, blue, alpha as their masks say.  A channel
//   a format does not store reads as 0, alpha as 1 (opaque).  Bits a format
//   leaves unused (the X of X8R8G8B8, X1R5G5B5 ...) are written as ones.
// - Luminance formats read L into red, green and blue; writing takes
//   L = 0.299 R + 0.587 G + 0.114 B, so a grey stays the same grey.
// - A8 reads as black with its alpha.
// - Palettes (P8, A8P8): a PALETTEENTRY's peFlags is its alpha.  P8 reads
//   red, green, blue and alpha from the entry; A8P8 reads the colour from the
//   entry and alpha from its own alpha byte.  Without a palette an index i
//   reads as grey i (alpha 255 for P8).  Writing picks the entry nearest in
//   8-bit RGBA (RGB for A8P8) by squared distance, the lowest index on a tie;
//   without a palette it writes the grey-ramp index, i.e. the luminance.
// - Signed bump formats store U, V, W, Q as two's-complement numbers k of
//   n bits meaning s = k / (2^(n-1) - 1) in [-1, 1] (the most negative code
//   reads as -1 too).  A signed value maps to the unsigned channel as
//   (s + 1) / 2, so colour 0 is -1, 255 is +1 and 128 is about 0, the usual
//   way a normal or a displacement is stored in a colour image, and
//   A8R8G8B8 -> V8U8 -> A8R8G8B8 keeps every value V8U8 can represent.
//   U is red, V green, W blue, Q alpha.  The unsigned luminance of L6V5U5
//   and X8L8V8U8 and the 2-bit alpha of A2W10V10U10 sit in alpha.
// - UYVY and YUY2 are 4:2:2 studio-range YCbCr (Y 16..235, Cb/Cr 16..240,
//   BT.601 weights).  Two neighbouring pixels share Cb and Cr: writing
//   averages the pair's chroma; the last pixel of an odd row pairs with
//   itself.  Alpha reads as 1.
#pragma once

#include "platform/d3d8/d3d8.h"

#include <cstdint>
#include <vector>

namespace d3dx::pixel {

struct Color {
    double r, g, b, a;
};

// Luminance weights (BT.601); they sum to 1.
constexpr double kLumR = 0.299;
constexpr double kLumG = 0.587;
constexpr double kLumB = 0.114;

// Nearest integer of c * max for c clamped to [0, 1]; halves round up.
unsigned Quantize(double c, unsigned max);

inline std::uint8_t ToByte(double c) { return static_cast<std::uint8_t>(Quantize(c, 255)); }

// Converts rows of one uncompressed format (not DXT).  `row` always points
// at pixel 0 of a stored row; x and n select the pixels.  Not thread-safe:
// writing to a palette keeps a cache of recent nearest-entry answers.
class RowCodec {
public:
    // palette: the surface's 256 entries, or null (grey ramp); kept, not copied.
    RowCodec(D3DFORMAT format, const PALETTEENTRY* palette);

    D3DFORMAT Format() const { return format_; }
    // True when every stored value is exactly an 8-bit value per channel, so
    // RGBA8 rows lose nothing against the wide intermediate.
    bool Exact8() const { return exact8_; }

    void Unpack(const BYTE* row, UINT x, UINT n, Color* out) const;
    // Red, green, blue, alpha bytes per pixel; rounds when not Exact8().
    void UnpackRgba8(const BYTE* row, UINT x, UINT n, std::uint8_t* out) const;

    // rowWidth is the surface width: 4:2:2 formats read the other pixel of
    // a half-covered pair from the row and never write past the width.
    void Pack(const Color* in, UINT x, UINT n, UINT rowWidth, BYTE* row);
    void PackRgba8(const std::uint8_t* in, UINT x, UINT n, UINT rowWidth, BYTE* row);

private:
    struct Channel {
        unsigned shift = 0;
        unsigned bits = 0;  // 0: not stored
        bool isSigned = false;
    };
    enum class Path : std::uint8_t { Masks, Luminance, Palette, Yuv };

    Color ReadMasked(std::uint32_t v) const;
    std::uint32_t WriteMasked(const Color& c) const;
    static std::uint32_t WriteChannel(const Channel& channel, double value);
    std::uint8_t NearestEntry(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a);
    void ReadYuvPair(const BYTE* macro, Color& first, Color& second) const;
    void WriteYuvPair(const Color& first, const Color& second, BYTE* macro) const;
    void PackYuv(const Color* in, UINT x, UINT n, UINT rowWidth, BYTE* row) const;

    D3DFORMAT format_;
    const PALETTEENTRY* palette_;
    Path path_ = Path::Masks;
    unsigned bytes_ = 0;       // bytes per pixel (4:2:2: per pair)
    std::uint32_t unused_ = 0;  // bits written as ones
    Channel ch_[4];            // red, green, blue, alpha (luminance: red is L)
    bool exact8_ = false;
    bool uyvy_ = false;
    // Masks path: the stored bits of each 8-bit channel value, so RGBA8
    // rows pack with four lookups a pixel; built on first use.
    std::vector<std::uint32_t> packTables_;
    // Direct-mapped cache of nearest-entry answers: key is RGBA8, value the
    // index, or -1 when empty.
    std::vector<std::pair<std::uint32_t, int>> nearestCache_;
};

} // namespace d3dx::pixel
