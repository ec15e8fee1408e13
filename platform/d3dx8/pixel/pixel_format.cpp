#include "platform/d3dx8/pixel/pixel_format.h"

#include "platform/d3dx8/bytes.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace d3dx::pixel {

namespace {

// Added before rounding so that a half computed a hair low (an average of
// four values, say) still rounds up.  Genuine non-halves between 16-bit and
// narrower scales sit at least 1/131070 away from .5, far above this.
constexpr double kHalfBias = 1e-7;

unsigned RoundClamp(double x, unsigned max)
{
    if (!(x > 0))  // also NaN
        return 0;
    double r = std::floor(x + 0.5 + kHalfBias);
    return r >= max ? max : static_cast<unsigned>(r);
}

double Clamp01(double c) { return c > 0 ? (c < 1 ? c : 1) : 0; }

// Studio-range BT.601 YCbCr.
constexpr double kYScale = 219, kYOffset = 16, kCScale = 224, kCOffset = 128;

Color FromYuv(unsigned y, unsigned cb, unsigned cr)
{
    double l = (y - kYOffset) / kYScale;
    double u = (cb - kCOffset) / kCScale;
    double v = (cr - kCOffset) / kCScale;
    double r = l + 2 * (1 - kLumR) * v;
    double b = l + 2 * (1 - kLumB) * u;
    double g = (l - kLumR * r - kLumB * b) / kLumG;
    return {Clamp01(r), Clamp01(g), Clamp01(b), 1.0};
}

struct Yuv {
    double y, cb, cr;
};

Yuv ToYuv(const Color& c)
{
    double r = Clamp01(c.r), g = Clamp01(c.g), b = Clamp01(c.b);
    double l = kLumR * r + kLumG * g + kLumB * b;
    return {kYOffset + kYScale * l, kCOffset + kCScale * (b - l) / (2 * (1 - kLumB)),
            kCOffset + kCScale * (r - l) / (2 * (1 - kLumR))};
}

} // namespace

unsigned Quantize(double c, unsigned max) { return RoundClamp(c * max, max); }

RowCodec::RowCodec(D3DFORMAT format, const PALETTEENTRY* palette) : format_(format), palette_(palette)
{
    const FormatInfo* info = D3DFormatInfo(format);
    assert(info && info->kind != FormatKind::Block);
    bytes_ = info->kind == FormatKind::Yuv ? info->blockBytes : info->bitsPerPixel / 8u;
    auto channel = [](DWORD mask, bool isSigned) {
        Channel c;
        if (mask) {
            c.shift = static_cast<unsigned>(std::countr_zero(mask));
            c.bits = static_cast<unsigned>(std::popcount(mask));
            c.isSigned = isSigned;
        }
        return c;
    };
    const bool bump = info->kind == FormatKind::Bump;
    ch_[0] = channel(info->redMask, bump);
    ch_[1] = channel(info->greenMask, bump);
    ch_[2] = channel(info->blueMask, bump);
    // Q is the only signed channel in an alpha position; the others there
    // are luminance (L6V5U5, X8L8V8U8) or plain alpha.
    ch_[3] = channel(info->alphaMask, format == D3DFMT_Q8W8V8U8);

    switch (info->kind) {
    case FormatKind::Luminance: path_ = Path::Luminance; break;
    case FormatKind::Palette: path_ = Path::Palette; break;
    case FormatKind::Yuv: path_ = Path::Yuv; break;
    default: path_ = Path::Masks; break;
    }
    uyvy_ = format == D3DFMT_UYVY;

    if (path_ == Path::Masks || path_ == Path::Luminance) {
        std::uint64_t all = (std::uint64_t{1} << (8 * bytes_)) - 1;
        unused_ = static_cast<std::uint32_t>(all & ~std::uint64_t{info->redMask | info->greenMask |
                                                                 info->blueMask | info->alphaMask});
        exact8_ = std::all_of(std::begin(ch_), std::end(ch_),
                              [](const Channel& c) { return c.bits == 0 || (c.bits == 8 && !c.isSigned); });
    } else {
        exact8_ = path_ == Path::Palette;
    }
    if (path_ == Path::Palette && palette_)
        nearestCache_.assign(4096, {0, -1});
}

Color RowCodec::ReadMasked(std::uint32_t v) const
{
    auto read = [v](const Channel& c, double absent) {
        if (c.bits == 0)
            return absent;
        std::uint32_t raw = (v >> c.shift) & ((std::uint32_t{1} << c.bits) - 1);
        if (!c.isSigned)
            return raw / double((std::uint32_t{1} << c.bits) - 1);
        const std::int32_t half = std::int32_t{1} << (c.bits - 1);
        std::int32_t k = static_cast<std::int32_t>(raw) - (raw >= std::uint32_t(half) ? 2 * half : 0);
        double s = std::max(-1.0, double(k) / (half - 1));
        return (s + 1) / 2;
    };
    if (path_ == Path::Luminance) {
        double l = read(ch_[0], 0);
        return {l, l, l, read(ch_[3], 1)};
    }
    return {read(ch_[0], 0), read(ch_[1], 0), read(ch_[2], 0), read(ch_[3], 1)};
}

std::uint32_t RowCodec::WriteChannel(const Channel& ch, double value)
{
    if (ch.bits == 0)
        return 0;
    const std::uint32_t mask = (std::uint32_t{1} << ch.bits) - 1;
    if (!ch.isSigned)
        return Quantize(value, mask) << ch.shift;
    const std::int32_t m = (std::int32_t{1} << (ch.bits - 1)) - 1;
    // s in [-1, 1]; shifting by m keeps the rounding on non-negatives.
    std::int32_t k = static_cast<std::int32_t>(RoundClamp((2 * Clamp01(value) - 1) * m + m, 2 * m)) - m;
    return (static_cast<std::uint32_t>(k) & mask) << ch.shift;
}

std::uint32_t RowCodec::WriteMasked(const Color& c) const
{
    auto write = WriteChannel;
    std::uint32_t v = unused_;
    if (path_ == Path::Luminance) {
        v |= write(ch_[0], kLumR * Clamp01(c.r) + kLumG * Clamp01(c.g) + kLumB * Clamp01(c.b));
    } else {
        v |= write(ch_[0], c.r) | write(ch_[1], c.g) | write(ch_[2], c.b);
    }
    return v | write(ch_[3], c.a);
}

void RowCodec::ReadYuvPair(const BYTE* m, Color& first, Color& second) const
{
    unsigned y0, y1, cb, cr;
    if (uyvy_) {
        cb = m[0], y0 = m[1], cr = m[2], y1 = m[3];
    } else {
        y0 = m[0], cb = m[1], y1 = m[2], cr = m[3];
    }
    first = FromYuv(y0, cb, cr);
    second = FromYuv(y1, cb, cr);
}

void RowCodec::WriteYuvPair(const Color& first, const Color& second, BYTE* m) const
{
    Yuv p = ToYuv(first), q = ToYuv(second);
    BYTE y0 = static_cast<BYTE>(RoundClamp(p.y, 255));
    BYTE y1 = static_cast<BYTE>(RoundClamp(q.y, 255));
    BYTE cb = static_cast<BYTE>(RoundClamp((p.cb + q.cb) / 2, 255));
    BYTE cr = static_cast<BYTE>(RoundClamp((p.cr + q.cr) / 2, 255));
    if (uyvy_) {
        m[0] = cb, m[1] = y0, m[2] = cr, m[3] = y1;
    } else {
        m[0] = y0, m[1] = cb, m[2] = y1, m[3] = cr;
    }
}

void RowCodec::Unpack(const BYTE* row, UINT x, UINT n, Color* out) const
{
    switch (path_) {
    case Path::Masks:
    case Path::Luminance:
        for (UINT i = 0; i < n; ++i)
            out[i] = ReadMasked(LoadLowBytes(row + std::size_t(x + i) * bytes_, bytes_));
        return;
    case Path::Palette: {
        std::vector<std::uint8_t> rgba(std::size_t{n} * 4);
        UnpackRgba8(row, x, n, rgba.data());
        for (UINT i = 0; i < n; ++i)
            out[i] = {rgba[4 * i] / 255.0, rgba[4 * i + 1] / 255.0, rgba[4 * i + 2] / 255.0, rgba[4 * i + 3] / 255.0};
        return;
    }
    case Path::Yuv:
        for (UINT i = 0; i < n; ++i) {
            Color pair[2];
            ReadYuvPair(row + std::size_t((x + i) / 2) * bytes_, pair[0], pair[1]);
            out[i] = pair[(x + i) & 1];
        }
        return;
    }
}

namespace {

// B, G, R, A <-> R, G, B, A for n texels (the same swap either way), alpha
// set to 255 when `opaque`.  Whole words, four at a time where SSE2 is there.
static_assert(std::endian::native == std::endian::little, "texels are read as little-endian words");
void SwapRedBlue(const std::uint8_t* in, UINT n, bool opaque, std::uint8_t* out)
{
    const std::uint32_t alpha = opaque ? 0xFF000000u : 0;
    UINT i = 0;
#if defined(__SSE2__)
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF00FF00u)), low = _mm_set1_epi32(0xFF);
    const __m128i set = _mm_set1_epi32(static_cast<int>(alpha));
    for (; i + 4 <= n; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * std::size_t(i)));
        const __m128i swapped = _mm_or_si128(_mm_or_si128(_mm_and_si128(v, keep), _mm_and_si128(_mm_srli_epi32(v, 16), low)),
                                             _mm_or_si128(_mm_slli_epi32(_mm_and_si128(v, low), 16), set));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * std::size_t(i)), swapped);
    }
#endif
    for (; i < n; ++i) {
        std::uint32_t v;
        std::memcpy(&v, in + 4 * std::size_t(i), 4);
        v = (v & 0xFF00FF00u) | (v >> 16 & 0xFFu) | (v & 0xFFu) << 16 | alpha;
        std::memcpy(out + 4 * std::size_t(i), &v, 4);
    }
}

} // namespace

void RowCodec::UnpackRgba8(const BYTE* row, UINT x, UINT n, std::uint8_t* out) const
{
    const BYTE* p = row + std::size_t(x) * bytes_;
    switch (format_) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: {
        SwapRedBlue(p, n, format_ == D3DFMT_X8R8G8B8, out);
        return;
    }
    case D3DFMT_R8G8B8:
        for (UINT i = 0; i < n; ++i, p += 3, out += 4) {
            out[0] = p[2], out[1] = p[1], out[2] = p[0], out[3] = 255;
        }
        return;
    case D3DFMT_P8:
    case D3DFMT_A8P8: {
        const bool withAlpha = format_ == D3DFMT_A8P8;
        for (UINT i = 0; i < n; ++i, p += bytes_, out += 4) {
            const BYTE index = p[0];
            if (palette_) {
                const PALETTEENTRY& e = palette_[index];
                out[0] = e.peRed, out[1] = e.peGreen, out[2] = e.peBlue, out[3] = e.peFlags;
            } else {
                out[0] = out[1] = out[2] = index;
                out[3] = 255;
            }
            if (withAlpha)
                out[3] = p[1];
        }
        return;
    }
    default:
        break;
    }
    // Everything else goes through the wide form a short run at a time.
    Color buffer[64];
    for (UINT done = 0; done < n;) {
        UINT k = std::min<UINT>(64, n - done);
        Unpack(row, x + done, k, buffer);
        for (UINT i = 0; i < k; ++i, out += 4) {
            out[0] = ToByte(buffer[i].r), out[1] = ToByte(buffer[i].g), out[2] = ToByte(buffer[i].b);
            out[3] = ToByte(buffer[i].a);
        }
        done += k;
    }
}

std::uint8_t RowCodec::NearestEntry(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a)
{
    const bool withAlpha = format_ == D3DFMT_P8;
    if (!withAlpha)
        a = 0;
    const std::uint32_t key = std::uint32_t{r} | std::uint32_t{g} << 8 | std::uint32_t{b} << 16 | std::uint32_t{a} << 24;
    auto& slot = nearestCache_[(key * 2654435761u) >> 20];
    if (slot.second >= 0 && slot.first == key)
        return static_cast<std::uint8_t>(slot.second);
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const PALETTEENTRY& e = palette_[i];
        int dr = e.peRed - r, dg = e.peGreen - g, db = e.peBlue - b;
        int da = withAlpha ? e.peFlags - a : 0;
        int d = dr * dr + dg * dg + db * db + da * da;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
            if (d == 0)
                break;
        }
    }
    slot = {key, best};
    return static_cast<std::uint8_t>(best);
}

void RowCodec::PackYuv(const Color* in, UINT x, UINT n, UINT rowWidth, BYTE* row) const
{
    const UINT end = x + n;
    for (UINT m = x / 2; m <= (end - 1) / 2; ++m) {
        BYTE* macro = row + std::size_t(m) * bytes_;
        const UINT first = 2 * m, second = first + 1;
        Color old[2];
        if (first < x || (second < rowWidth && second >= end))
            ReadYuvPair(macro, old[0], old[1]);
        Color a = first >= x ? in[first - x] : old[0];
        Color b = second >= rowWidth ? a : (second < end ? in[second - x] : old[1]);
        WriteYuvPair(a, b, macro);
    }
}

void RowCodec::Pack(const Color* in, UINT x, UINT n, UINT rowWidth, BYTE* row)
{
    switch (path_) {
    case Path::Masks:
    case Path::Luminance:
        for (UINT i = 0; i < n; ++i)
            StoreLowBytes(row + std::size_t(x + i) * bytes_, bytes_, WriteMasked(in[i]));
        return;
    case Path::Palette: {
        // Palettes are matched in 8 bits, so this is the RGBA8 path.
        std::uint8_t rgba[4 * 64];
        for (UINT done = 0; done < n;) {
            UINT k = std::min<UINT>(64, n - done);
            for (UINT i = 0; i < k; ++i) {
                const Color& c = in[done + i];
                rgba[4 * i] = ToByte(c.r), rgba[4 * i + 1] = ToByte(c.g), rgba[4 * i + 2] = ToByte(c.b);
                rgba[4 * i + 3] = ToByte(c.a);
            }
            PackRgba8(rgba, x + done, k, rowWidth, row);
            done += k;
        }
        return;
    }
    case Path::Yuv:
        PackYuv(in, x, n, rowWidth, row);
        return;
    }
}

void RowCodec::PackRgba8(const std::uint8_t* in, UINT x, UINT n, UINT rowWidth, BYTE* row)
{
    BYTE* p = row + std::size_t(x) * bytes_;
    switch (format_) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: {
        SwapRedBlue(in, n, format_ == D3DFMT_X8R8G8B8, p);
        return;
    }
    case D3DFMT_R8G8B8:
        for (UINT i = 0; i < n; ++i, p += 3, in += 4) {
            p[0] = in[2], p[1] = in[1], p[2] = in[0];
        }
        return;
    case D3DFMT_P8:
    case D3DFMT_A8P8: {
        const bool withAlpha = format_ == D3DFMT_A8P8;
        for (UINT i = 0; i < n; ++i, p += bytes_, in += 4) {
            if (palette_) {
                p[0] = NearestEntry(in[0], in[1], in[2], in[3]);
            } else {
                double l = (kLumR * in[0] + kLumG * in[1] + kLumB * in[2]) / 255.0;
                p[0] = ToByte(l);
            }
            if (withAlpha)
                p[1] = in[3];
        }
        return;
    }
    default:
        break;
    }
    if (path_ == Path::Masks) {
        if (packTables_.empty()) {
            // The same channel writer as the wide path, so both give the same bits.
            packTables_.resize(4 * 256);
            for (int v = 0; v < 256; ++v) {
                for (int k = 0; k < 4; ++k)
                    packTables_[256 * k + v] = WriteChannel(ch_[k], v / 255.0);
            }
        }
        const std::uint32_t* t = packTables_.data();
        for (UINT i = 0; i < n; ++i, p += bytes_, in += 4)
            StoreLowBytes(p, bytes_, unused_ | t[in[0]] | t[256 + in[1]] | t[512 + in[2]] | t[768 + in[3]]);
        return;
    }
    // One run, not pieces: a 4:2:2 pair split between two pieces would be
    // written twice.
    std::vector<Color> wide(n);
    for (UINT i = 0; i < n; ++i, in += 4)
        wide[i] = {in[0] / 255.0, in[1] / 255.0, in[2] / 255.0, in[3] / 255.0};
    Pack(wide.data(), x, n, rowWidth, row);
}

} // namespace d3dx::pixel
