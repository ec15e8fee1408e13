// Streaming access to the pixels of locked surfaces, a row at a time, for
// surface loading and mip filtering.  Rows are RGBA8 (red, green, blue,
// alpha bytes) or the wide Color form of pixel_format.h.  DXT surfaces are
// decoded a row of blocks at a time and encoded a band of block rows at a
// time, so no conversion holds a whole image in a wide form.
#pragma once

#include "platform/d3dx8/d3dx8.h"
#include "platform/d3dx8/pixel/pixel_format.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace d3dx::pixel {

// A surface locked whole for the lifetime of the object.
class LockedSurface {
public:
    LockedSurface() = default;
    LockedSurface(const LockedSurface&) = delete;
    LockedSurface& operator=(const LockedSurface&) = delete;
    ~LockedSurface();

    // Fills the description and locks; on failure returns the code and a
    // reason in `why`.
    HRESULT Lock(IDirect3DSurface8* surface, DWORD flags, const char* role, std::string& why);

    const D3DSURFACE_DESC& Desc() const { return desc_; }
    const FormatInfo& Info() const { return *info_; }
    bool IsBlock() const { return info_->kind == FormatKind::Block; }
    BYTE* Row(UINT row) const { return bits_ + std::size_t(row) * pitch_; }  // pixel or block row
    std::size_t Pitch() const { return pitch_; }

private:
    IDirect3DSurface8* surface_ = nullptr;
    D3DSURFACE_DESC desc_{};
    const FormatInfo* info_ = nullptr;
    BYTE* bits_ = nullptr;
    std::size_t pitch_ = 0;
};

// Reads the rows of a rectangle of a locked surface; row 0 is rect.top.
// A colour key (not 0) turns matching pixels, compared as A8R8G8B8, into
// transparent black.
class SourceRows {
public:
    SourceRows(const LockedSurface& surface, const RECT& rect, const PALETTEENTRY* palette, D3DCOLOR colorKey);

    UINT Width() const { return width_; }
    UINT Height() const { return height_; }
    // RGBA8 rows lose nothing (8-bit formats, palettes, DXT).
    bool Exact8() const { return block_ || codec_.Exact8(); }

    void ReadRgba8(UINT y, std::uint8_t* out);
    void ReadColor(UINT y, Color* out);

private:
    void DecodeBlockRow(UINT blockRow);
    void ApplyKey(std::uint8_t* rgba, UINT n) const;

    const LockedSurface& surface_;
    RECT rect_;
    UINT width_, height_;
    D3DCOLOR key_;
    bool block_;
    RowCodec codec_;
    // DXT: the decoded block row covering the rectangle's columns.
    UINT firstBlockColumn_ = 0;
    UINT cachedBlockRow_ = ~0u;
    std::vector<std::uint8_t> strip_;
    std::vector<std::uint8_t> scratch_;
};

// Writes the rows of a rectangle of a locked surface, in order from row 0
// (rect.top); Finish() after the last.  For DXT, rows gather into bands of
// block rows that are encoded on all cores; blocks the rectangle covers
// only in part keep their other texels.
class DestRows {
public:
    DestRows(LockedSurface& surface, const RECT& rect, const PALETTEENTRY* palette);

    UINT Width() const { return width_; }
    UINT Height() const { return height_; }

    void WriteRgba8(UINT y, const std::uint8_t* in);
    void WriteColor(UINT y, const Color* in);
    void Finish();

private:
    std::uint8_t* BandRow(UINT y);
    void StartBand(UINT band);
    void EncodeBand();

    LockedSurface& surface_;
    RECT rect_;
    UINT width_, height_;
    bool block_;
    RowCodec codec_;
    // DXT band state.
    UINT firstBlockColumn_ = 0, blockColumns_ = 0;
    UINT firstBlockRow_ = 0, endBlockRow_ = 0;
    UINT bandBlockRows_ = 1;
    UINT band_ = ~0u;
    bool merge_ = false;
    std::vector<std::uint8_t> bandBuffer_;
    std::vector<std::uint8_t> scratch_;
};

// Resamples a source rectangle to another size, a destination row at a
// time, keeping only the horizontally filtered source rows still needed.
class Resampler {
public:
    Resampler(SourceRows& source, UINT width, UINT height, DWORD filter);
    void Row(UINT y, Color* out);

private:
    struct Taps {
        UINT first;
        std::vector<double> weights;
    };
    static std::vector<Taps> AxisTaps(UINT from, UINT to, DWORD filter);
    const std::vector<Color>& FilteredSourceRow(UINT y);

    SourceRows& source_;
    UINT width_;
    std::vector<Taps> columns_, rows_;
    std::map<UINT, std::vector<Color>> cache_;
    std::vector<Color> scratch_;
};

} // namespace d3dx::pixel
