#include "platform/d3dx8/pixel/surface_io.h"

#include "parallel.h"
#include "platform/d3dx8/dxt/dxt.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace d3dx::pixel {

namespace {

// Roughly this many blocks make one band: enough to keep every core busy,
// few enough that a band of a 16384-wide level stays a few megabytes.
constexpr UINT kBlocksPerBand = 4096;
constexpr UINT kMaxBandBlockRows = 64;
constexpr std::size_t kBlocksPerTask = 64;

} // namespace

LockedSurface::~LockedSurface()
{
    if (surface_)
        surface_->UnlockRect();
}

HRESULT LockedSurface::Lock(IDirect3DSurface8* surface, DWORD flags, const char* role, std::string& why)
{
    if (HRESULT hr = surface->GetDesc(&desc_); FAILED(hr)) {
        why = std::string("cannot describe the ") + role + " surface";
        return hr;
    }
    info_ = D3DFormatInfo(desc_.Format);
    if (!info_) {
        why = std::string("the ") + role + " surface has an unknown format";
        return D3DERR_INVALIDCALL;
    }
    D3DLOCKED_RECT locked{};
    if (HRESULT hr = surface->LockRect(&locked, nullptr, flags); FAILED(hr)) {
        why = std::string("cannot lock the ") + role + " surface (is it locked already?)";
        return hr;
    }
    surface_ = surface;
    bits_ = static_cast<BYTE*>(locked.pBits);
    pitch_ = static_cast<std::size_t>(locked.Pitch);
    return S_OK;
}

// ---------------------------------------------------------------------------

SourceRows::SourceRows(const LockedSurface& surface, const RECT& rect, const PALETTEENTRY* palette,
                       D3DCOLOR colorKey)
    : surface_(surface), rect_(rect), width_(static_cast<UINT>(rect.right - rect.left)),
      height_(static_cast<UINT>(rect.bottom - rect.top)), key_(colorKey), block_(surface.IsBlock()),
      // A DXT surface never uses the row codec; any uncompressed format does.
      codec_(block_ ? D3DFMT_A8R8G8B8 : surface.Desc().Format, palette)
{
    if (block_) {
        firstBlockColumn_ = static_cast<UINT>(rect.left) / 4;
        UINT endColumn = (static_cast<UINT>(rect.right) + 3) / 4;
        strip_.resize(std::size_t(endColumn - firstBlockColumn_) * 4 * 4 * 4);
    }
}

void SourceRows::DecodeBlockRow(UINT blockRow)
{
    const D3DFORMAT format = surface_.Desc().Format;
    const unsigned blockBytes = surface_.Info().blockBytes;
    const UINT columns = static_cast<UINT>(strip_.size() / 64);
    const std::size_t stripPitch = std::size_t(columns) * 16;
    const BYTE* blocks = surface_.Row(blockRow);
    std::uint8_t texels[64];
    for (UINT c = 0; c < columns; ++c) {
        dxt::DecodeBlock(format, blocks + std::size_t(firstBlockColumn_ + c) * blockBytes, texels);
        for (int y = 0; y < 4; ++y)
            std::memcpy(&strip_[y * stripPitch + std::size_t(c) * 16], texels + 16 * y, 16);
    }
    cachedBlockRow_ = blockRow;
}

void SourceRows::ApplyKey(std::uint8_t* rgba, UINT n) const
{
    if (key_ == 0)
        return;
    for (UINT i = 0; i < n; ++i, rgba += 4) {
        D3DCOLOR argb = D3DCOLOR{rgba[3]} << 24 | D3DCOLOR{rgba[0]} << 16 | D3DCOLOR{rgba[1]} << 8 | rgba[2];
        if (argb == key_)
            std::memset(rgba, 0, 4);
    }
}

void SourceRows::ReadRgba8(UINT y, std::uint8_t* out)
{
    const UINT row = static_cast<UINT>(rect_.top) + y;
    if (block_) {
        if (row / 4 != cachedBlockRow_)
            DecodeBlockRow(row / 4);
        const std::size_t stripPitch = strip_.size() / 4;
        std::memcpy(out, &strip_[(row % 4) * stripPitch + (static_cast<UINT>(rect_.left) - firstBlockColumn_ * 4) * 4],
                    std::size_t(width_) * 4);
    } else {
        codec_.UnpackRgba8(surface_.Row(row), static_cast<UINT>(rect_.left), width_, out);
    }
    ApplyKey(out, width_);
}

void SourceRows::ReadColor(UINT y, Color* out)
{
    if (Exact8()) {
        scratch_.resize(std::size_t(width_) * 4);
        ReadRgba8(y, scratch_.data());
        for (UINT i = 0; i < width_; ++i) {
            const std::uint8_t* p = &scratch_[std::size_t(i) * 4];
            out[i] = {p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0};
        }
        return;
    }
    codec_.Unpack(surface_.Row(static_cast<UINT>(rect_.top) + y), static_cast<UINT>(rect_.left), width_, out);
    if (key_ == 0)
        return;
    for (UINT i = 0; i < width_; ++i) {
        std::uint8_t p[4] = {ToByte(out[i].r), ToByte(out[i].g), ToByte(out[i].b), ToByte(out[i].a)};
        ApplyKey(p, 1);
        if (p[3] == 0 && p[0] == 0 && p[1] == 0 && p[2] == 0)
            out[i] = {0, 0, 0, 0};
    }
}

// ---------------------------------------------------------------------------

DestRows::DestRows(LockedSurface& surface, const RECT& rect, const PALETTEENTRY* palette)
    : surface_(surface), rect_(rect), width_(static_cast<UINT>(rect.right - rect.left)),
      height_(static_cast<UINT>(rect.bottom - rect.top)), block_(surface.IsBlock()),
      codec_(block_ ? D3DFMT_A8R8G8B8 : surface.Desc().Format, palette)
{
    if (!block_)
        return;
    const UINT left = static_cast<UINT>(rect.left), top = static_cast<UINT>(rect.top);
    const UINT right = static_cast<UINT>(rect.right), bottom = static_cast<UINT>(rect.bottom);
    firstBlockColumn_ = left / 4;
    blockColumns_ = (right + 3) / 4 - firstBlockColumn_;
    firstBlockRow_ = top / 4;
    endBlockRow_ = (bottom + 3) / 4;
    bandBlockRows_ = std::clamp<UINT>(kBlocksPerBand / blockColumns_, 1, kMaxBandBlockRows);
    // Texels past the surface's edge are padding; any other texel of a
    // covered block outside the rectangle must survive.
    const D3DSURFACE_DESC& d = surface.Desc();
    merge_ = left % 4 || top % 4 || (right % 4 && right < d.Width) || (bottom % 4 && bottom < d.Height);
    bandBuffer_.resize(std::size_t(blockColumns_) * 16 * std::size_t(bandBlockRows_) * 4);
}

void DestRows::StartBand(UINT band)
{
    band_ = band;
    std::fill(bandBuffer_.begin(), bandBuffer_.end(), 0);
    if (!merge_)
        return;
    const D3DFORMAT format = surface_.Desc().Format;
    const unsigned blockBytes = surface_.Info().blockBytes;
    const std::size_t bandPitch = std::size_t(blockColumns_) * 16;
    const UINT firstRow = firstBlockRow_ + band * bandBlockRows_;
    const UINT endRow = std::min(endBlockRow_, firstRow + bandBlockRows_);
    std::uint8_t texels[64];
    for (UINT r = firstRow; r < endRow; ++r) {
        const BYTE* blocks = surface_.Row(r);
        for (UINT c = 0; c < blockColumns_; ++c) {
            dxt::DecodeBlock(format, blocks + std::size_t(firstBlockColumn_ + c) * blockBytes, texels);
            for (UINT y = 0; y < 4; ++y)
                std::memcpy(&bandBuffer_[((r - firstRow) * 4 + y) * bandPitch + std::size_t(c) * 16], texels + 16 * y,
                            16);
        }
    }
}

std::uint8_t* DestRows::BandRow(UINT y)
{
    const UINT row = static_cast<UINT>(rect_.top) + y;
    const UINT band = (row / 4 - firstBlockRow_) / bandBlockRows_;
    if (band != band_) {
        if (band_ != ~0u)
            EncodeBand();
        StartBand(band);
    }
    const UINT bandTop = (firstBlockRow_ + band * bandBlockRows_) * 4;
    const std::size_t bandPitch = std::size_t(blockColumns_) * 16;
    return &bandBuffer_[(row - bandTop) * bandPitch + (static_cast<UINT>(rect_.left) - firstBlockColumn_ * 4) * 4];
}

void DestRows::EncodeBand()
{
    const D3DSURFACE_DESC& d = surface_.Desc();
    const D3DFORMAT format = d.Format;
    const unsigned blockBytes = surface_.Info().blockBytes;
    const std::size_t bandPitch = std::size_t(blockColumns_) * 16;
    const UINT firstRow = firstBlockRow_ + band_ * bandBlockRows_;
    const UINT rows = std::min(endBlockRow_, firstRow + bandBlockRows_) - firstRow;
    const std::size_t count = std::size_t(rows) * blockColumns_;
    ParallelFor(count, kBlocksPerTask, [&](std::size_t begin, std::size_t end) {
        // Whole blocks are encoded in runs, which share part of the work;
        // blocks on the right and bottom edges miss texels and go one by one.
        constexpr int kRun = dxt::kBlocksPerRun;
        std::uint8_t texels[kRun][64];
        const std::uint8_t* run[kRun];
        std::uint8_t* out[kRun];
        int queued = 0;
        for (int k = 0; k < kRun; ++k)
            run[k] = texels[k];
        for (std::size_t i = begin; i < end; ++i) {
            const UINT r = static_cast<UINT>(i / blockColumns_), c = static_cast<UINT>(i % blockColumns_);
            std::uint8_t* block = surface_.Row(firstRow + r) + std::size_t(firstBlockColumn_ + c) * blockBytes;
            std::uint8_t* at = texels[queued];
            for (UINT y = 0; y < 4; ++y)
                std::memcpy(at + 16 * y, &bandBuffer_[(r * 4 + y) * bandPitch + std::size_t(c) * 16], 16);
            const UINT x0 = (firstBlockColumn_ + c) * 4, y0 = (firstRow + r) * 4;
            if (x0 + 4 <= d.Width && y0 + 4 <= d.Height) {
                out[queued++] = block;
                if (queued == kRun) {
                    dxt::EncodeBlocks(format, queued, run, out);
                    queued = 0;
                }
                continue;
            }
            dxt::EncodeOptions options;
            options.validMask = 0;
            for (UINT y = 0; y < 4; ++y)
                for (UINT x = 0; x < 4; ++x)
                    if (x0 + x < d.Width && y0 + y < d.Height)
                        options.validMask |= static_cast<std::uint16_t>(1u << (y * 4 + x));
            dxt::EncodeBlock(format, at, block, options);
        }
        dxt::EncodeBlocks(format, queued, run, out);
    });
}

void DestRows::WriteRgba8(UINT y, const std::uint8_t* in)
{
    if (block_) {
        std::memcpy(BandRow(y), in, std::size_t(width_) * 4);
        return;
    }
    codec_.PackRgba8(in, static_cast<UINT>(rect_.left), width_, surface_.Desc().Width,
                     surface_.Row(static_cast<UINT>(rect_.top) + y));
}

void DestRows::WriteColor(UINT y, const Color* in)
{
    if (block_) {
        std::uint8_t* out = BandRow(y);
        for (UINT i = 0; i < width_; ++i, out += 4) {
            out[0] = ToByte(in[i].r), out[1] = ToByte(in[i].g), out[2] = ToByte(in[i].b), out[3] = ToByte(in[i].a);
        }
        return;
    }
    codec_.Pack(in, static_cast<UINT>(rect_.left), width_, surface_.Desc().Width,
                surface_.Row(static_cast<UINT>(rect_.top) + y));
}

void DestRows::Finish()
{
    if (block_ && band_ != ~0u)
        EncodeBand();
    band_ = ~0u;
}

// ---------------------------------------------------------------------------

Resampler::Resampler(SourceRows& source, UINT width, UINT height, DWORD filter)
    : source_(source), width_(width), columns_(AxisTaps(source.Width(), width, filter)),
      rows_(AxisTaps(source.Height(), height, filter))
{
}

std::vector<Resampler::Taps> Resampler::AxisTaps(UINT from, UINT to, DWORD filter)
{
    std::vector<Taps> taps(to);
    const double scale = double(from) / to;
    const int last = static_cast<int>(from) - 1;
    for (UINT i = 0; i < to; ++i) {
        const double centre = (i + 0.5) * scale;  // in source texel units
        std::vector<std::pair<int, double>> raw;
        if (filter == D3DX_FILTER_LINEAR || (filter == D3DX_FILTER_TRIANGLE && scale <= 1)) {
            double u = centre - 0.5;
            int j = static_cast<int>(std::floor(u));
            double f = u - j;
            raw = {{j, 1 - f}, {j + 1, f}};
        } else if (filter == D3DX_FILTER_TRIANGLE) {
            // A tent as wide as the reduction, so every source texel counts.
            int lo = static_cast<int>(std::floor(centre - scale)), hi = static_cast<int>(std::ceil(centre + scale));
            for (int j = lo; j <= hi; ++j) {
                double w = 1 - std::abs(j + 0.5 - centre) / scale;
                if (w > 0)
                    raw.emplace_back(j, w);
            }
        } else if (filter == D3DX_FILTER_BOX && scale > 1) {
            // Area average over the destination texel's footprint.
            double lo = i * scale, hi = lo + scale;
            for (int j = static_cast<int>(std::floor(lo)); j < hi; ++j) {
                double w = std::min<double>(hi, j + 1) - std::max<double>(lo, j);
                if (w > 0)
                    raw.emplace_back(j, w);
            }
        } else {  // point, and box when enlarging
            raw = {{static_cast<int>(std::floor(centre)), 1.0}};
        }
        // Clamp at the edges, merging taps that land on the same texel.
        int first = last, end = 0;
        for (auto& [j, w] : raw) {
            j = std::clamp(j, 0, last);
            first = std::min(first, j);
            end = std::max(end, j + 1);
        }
        Taps& t = taps[i];
        t.first = static_cast<UINT>(first);
        t.weights.assign(static_cast<std::size_t>(end - first), 0.0);
        double total = 0;
        for (auto [j, w] : raw) {
            t.weights[static_cast<std::size_t>(j - first)] += w;
            total += w;
        }
        for (double& w : t.weights)
            w /= total;
    }
    return taps;
}

const std::vector<Color>& Resampler::FilteredSourceRow(UINT y)
{
    auto it = cache_.find(y);
    if (it != cache_.end())
        return it->second;
    scratch_.resize(source_.Width());
    source_.ReadColor(y, scratch_.data());
    std::vector<Color> row(width_);
    for (UINT x = 0; x < width_; ++x) {
        const Taps& t = columns_[x];
        Color c{0, 0, 0, 0};
        for (std::size_t k = 0; k < t.weights.size(); ++k) {
            const Color& s = scratch_[t.first + k];
            const double w = t.weights[k];
            c.r += w * s.r, c.g += w * s.g, c.b += w * s.b, c.a += w * s.a;
        }
        row[x] = c;
    }
    return cache_.emplace(y, std::move(row)).first->second;
}

void Resampler::Row(UINT y, Color* out)
{
    const Taps& t = rows_[y];
    // Rows above this one's first tap are not needed again: destination rows
    // come in order and taps only move down.
    cache_.erase(cache_.begin(), cache_.lower_bound(t.first));
    std::fill(out, out + width_, Color{0, 0, 0, 0});
    for (std::size_t k = 0; k < t.weights.size(); ++k) {
        const std::vector<Color>& s = FilteredSourceRow(t.first + static_cast<UINT>(k));
        const double w = t.weights[k];
        for (UINT x = 0; x < width_; ++x) {
            out[x].r += w * s[x].r, out[x].g += w * s[x].g, out[x].b += w * s[x].b, out[x].a += w * s[x].a;
        }
    }
}

} // namespace d3dx::pixel
