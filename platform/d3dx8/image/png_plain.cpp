// Plain PNG pictures (8-bit RGB or RGBA, not interlaced, no tRNS) without
// libpng: the whole zlib stream inflated at once by libdeflate, then the
// rows unfiltered and turned into X8R8G8B8 / A8R8G8B8 in one pass while
// they are still in the cache.  These are what paint programs and image
// libraries write for textures, and libpng's row-at-a-time inflate and
// byte-at-a-time unfiltering were half the cost of loading them.
//
// This path only ever accepts a file it has checked whole: every chunk's
// CRC, the chunk order, the zlib stream to its last byte and its Adler-32.
// Anything else, damaged or merely unusual, goes to libpng, which then
// decides (and words the message), so the result never depends on which
// path read the file.
#include "platform/d3dx8/image/imagefile.h"
#include "platform/d3dx8/image/png_read.h"

#include <libdeflate.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdlib>
#include <cstring>
#include <memory>

namespace d3dx::image {

namespace {

std::uint32_t Be32(const BYTE* p)
{
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

bool IsType(const BYTE* type, const char (&name)[5]) { return std::memcmp(type, name, 4) == 0; }

bool IsLetter(BYTE c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

struct Header {
    std::uint32_t width = 0, height = 0;
    int channels = 0;  // 3 or 4
};

// The chunks of a plain PNG: the header and where its image data lies.
// False for anything this path leaves to libpng.
bool ReadChunks(Bytes data, Header& header, std::vector<Bytes>& idat)
{
    static const BYTE kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    if (data.size() < sizeof kSignature || std::memcmp(data.data(), kSignature, sizeof kSignature) != 0)
        return false;
    std::size_t at = sizeof kSignature;
    bool seenHeader = false, seenPalette = false, idatEnded = false;
    while (true) {
        if (data.size() - at < 12)
            return false;  // cut short before IEND
        const BYTE* chunk = data.data() + at;
        const std::uint32_t length = Be32(chunk);
        if (length > 0x7FFFFFFFu || length > data.size() - at - 12)
            return false;
        const BYTE* type = chunk + 4;
        const BYTE* body = chunk + 8;
        if (!IsLetter(type[0]) || !IsLetter(type[1]) || !IsLetter(type[2]) || !IsLetter(type[3]))
            return false;
        if (libdeflate_crc32(0, type, std::size_t{length} + 4) != Be32(body + length))
            return false;
        at += std::size_t{length} + 12;
        if (!seenHeader) {
            // The header first, and only 8-bit RGB or RGBA, deflate, the
            // adaptive filters, no interlacing.
            if (!IsType(type, "IHDR") || length != 13)
                return false;
            header.width = Be32(body);
            header.height = Be32(body + 4);
            const BYTE depth = body[8], colourType = body[9];
            if (header.width == 0 || header.height == 0 || header.width > D3D_MAX_TEXTURE_SIZE ||
                header.height > D3D_MAX_TEXTURE_SIZE || depth != 8 || (colourType != 2 && colourType != 6) ||
                body[10] != 0 || body[11] != 0 || body[12] != 0)
                return false;
            header.channels = colourType == 6 ? 4 : 3;
            seenHeader = true;
            continue;
        }
        const bool isIdat = IsType(type, "IDAT");
        if (!isIdat && !idat.empty())
            idatEnded = true;
        if (isIdat) {
            if (idatEnded)
                return false;  // image data split by other chunks
            idat.push_back(Bytes(body, length));
        } else if (IsType(type, "IEND")) {
            return length == 0 && !idat.empty();
        } else if (IsType(type, "PLTE")) {
            // A suggested palette, of no use to a colour picture, but only in
            // its place and in its shape.
            if (seenPalette || !idat.empty() || length == 0 || length % 3 != 0 || length > 768)
                return false;
            seenPalette = true;
        } else if (IsType(type, "tRNS") || IsType(type, "acTL") || IsType(type, "fcTL") || IsType(type, "fdAT") ||
                   (type[0] & 0x20) == 0) {
            // Transparency keys, animation and unknown critical chunks are
            // libpng's.
            return false;
        }
        // Other ancillary chunks (gamma, text, times ...) change nothing
        // that is read here.
    }
}

// The PNG predictor of the filter type 4: whichever of left, above and
// upper left is closest to left + above - upper left, in that order on ties.
inline int Paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const int bc = pb <= pc ? b : c;
    return pa <= pb && pa <= pc ? a : bc;
}

#if defined(__SSE2__)
typedef std::int16_t Lanes16 __attribute__((vector_size(16)));

// The same predictor a pixel at a time, its channels side by side in 16-bit
// lanes: the chain through the left pixel is then one pixel long instead of
// one byte.  Pixels are moved as 4-byte words, which for 3-byte pixels
// reach one byte into the next pixel (or the padding after the row); the
// next word written puts it right.  Written in the compiler's vector types,
// so that the SSE4.1 build below gets single-instruction absolute values
// and selects: a chain of about 8 operations instead of 13.
inline Lanes16 LoadPixel(const BYTE* p)
{
    std::uint32_t word;
    std::memcpy(&word, p, 4);
    return reinterpret_cast<Lanes16>(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(word)), _mm_setzero_si128()));
}

// Lanes 0-3 (0) or 4-7 (1) of `v`, as the four bytes they hold.
inline std::uint32_t PixelWord(Lanes16 v, int half)
{
    __m128i packed = _mm_packus_epi16(reinterpret_cast<__m128i>(v), _mm_setzero_si128());
    if (half)
        packed = _mm_srli_si128(packed, 4);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed));
}

inline void StorePixel(BYTE* p, std::uint32_t word) { std::memcpy(p, &word, 4); }

// One step of the predictor on every lane: the pixel from its filtered
// value and its neighbours above, upper left and left.
inline __attribute__((always_inline)) Lanes16 PaethStep(Lanes16 up, Lanes16 upperLeft, Lanes16 left, Lanes16 filtered)
{
    auto abs16 = [](Lanes16 v) { return v < 0 ? -v : v; };
    const Lanes16 toUp = up - upperLeft, toLeft = left - upperLeft;
    const Lanes16 pa = abs16(toUp), pb = abs16(toLeft), pc = abs16(toUp + toLeft);
    // Left unless pa > pb or pa > pc; then above unless pb > pc.
    const Lanes16 guess = ((pa > pb) | (pa > pc)) ? (pb > pc ? upperLeft : up) : left;
    return (filtered + guess) & 0xFF;
}

template <int kBpp>
inline __attribute__((always_inline)) void PaethPixels(const BYTE* in, BYTE* out, const BYTE* above,
                                                       std::size_t pixels)
{
    Lanes16 left = {}, upperLeft = {};
    for (std::size_t x = 0; x < pixels; ++x, in += kBpp, out += kBpp, above += kBpp) {
        const Lanes16 up = LoadPixel(above);
        left = PaethStep(up, upperLeft, left, LoadPixel(in));
        upperLeft = up;
        StorePixel(out, PixelWord(left, 0));
    }
}

// Two rows that both use the predictor, at once: the upper row's pixel x in
// lanes 0-3 and the lower row's pixel x - 1 in lanes 4-7, whose pixel above
// is the upper row's pixel x - 1, made one step before.  Two independent
// chains in one vector: twice the pixels for the same wait.
template <int kBpp>
inline __attribute__((always_inline)) void PaethPairPixels(const BYTE* in0, const BYTE* in1, BYTE* out0, BYTE* out1,
                                                           const BYTE* above, std::size_t pixels)
{
    auto join = [](Lanes16 low, Lanes16 high) {
        return reinterpret_cast<Lanes16>(
            _mm_unpacklo_epi64(reinterpret_cast<__m128i>(low), reinterpret_cast<__m128i>(high)));
    };
    // The upper row's first pixel; the lower row's lanes are all zero and
    // stay so, as the left and upper left of its first pixel.
    Lanes16 up = LoadPixel(above);
    Lanes16 left = PaethStep(up, Lanes16{}, Lanes16{}, LoadPixel(in0));
    StorePixel(out0, PixelWord(left, 0));
    for (std::size_t x = 1; x < pixels; ++x) {
        const Lanes16 upNow = join(LoadPixel(above + x * kBpp), left);
        left = PaethStep(upNow, up, left, join(LoadPixel(in0 + x * kBpp), LoadPixel(in1 + (x - 1) * kBpp)));
        up = upNow;
        StorePixel(out0 + x * kBpp, PixelWord(left, 0));
        StorePixel(out1 + (x - 1) * kBpp, PixelWord(left, 1));
    }
    // The lower row's last pixel.
    left = PaethStep(join(Lanes16{}, left), up, left, join(Lanes16{}, LoadPixel(in1 + (pixels - 1) * kBpp)));
    StorePixel(out1 + (pixels - 1) * kBpp, PixelWord(left, 1));
}

template <int kBpp>
void PaethRow(const BYTE* in, BYTE* out, const BYTE* above, std::size_t pixels)
{
    PaethPixels<kBpp>(in, out, above, pixels);
}

template <int kBpp>
void PaethRows(const BYTE* in0, const BYTE* in1, BYTE* out0, BYTE* out1, const BYTE* above, std::size_t pixels)
{
    PaethPairPixels<kBpp>(in0, in1, out0, out1, above, pixels);
}

#if defined(__x86_64__)
template <int kBpp>
__attribute__((target("sse4.1"))) void PaethRowSse41(const BYTE* in, BYTE* out, const BYTE* above,
                                                     std::size_t pixels)
{
    PaethPixels<kBpp>(in, out, above, pixels);
}

template <int kBpp>
__attribute__((target("sse4.1"))) void PaethRowsSse41(const BYTE* in0, const BYTE* in1, BYTE* out0, BYTE* out1,
                                                      const BYTE* above, std::size_t pixels)
{
    PaethPairPixels<kBpp>(in0, in1, out0, out1, above, pixels);
}
#endif
#endif

// A row of the predictor byte by byte, where there are no vectors.
template <int kBpp>
void PaethRowBytes(const BYTE* in, BYTE* out, const BYTE* above, std::size_t pixels)
{
    const std::size_t bytes = pixels * kBpp;
    for (std::size_t i = 0; i < kBpp; ++i)
        out[i] = static_cast<BYTE>(in[i] + above[i]);
    for (std::size_t i = kBpp; i < bytes; ++i)
        out[i] = static_cast<BYTE>(in[i] + Paeth(out[i - kBpp], above[i], above[i - kBpp]));
}

// The Paeth unfilterers for this processor, picked once per picture: one
// row, and two rows at once (none without vectors).
template <int kBpp>
struct PaethRowsFor {
    void (*row)(const BYTE* in, BYTE* out, const BYTE* above, std::size_t pixels) = PaethRowBytes<kBpp>;
    void (*rows)(const BYTE* in0, const BYTE* in1, BYTE* out0, BYTE* out1, const BYTE* above,
                 std::size_t pixels) = nullptr;

    PaethRowsFor()
    {
#if defined(__SSE2__)
        row = PaethRow<kBpp>;
        rows = PaethRows<kBpp>;
#if defined(__x86_64__)
        if (__builtin_cpu_supports("sse4.1")) {
            row = PaethRowSse41<kBpp>;
            rows = PaethRowsSse41<kBpp>;
        }
#endif
#endif
    }
};

// Undoes one row's filter from `in` into `out`; `above` is the row before,
// unfiltered (zeros for the first).  False for an unknown filter type.
template <int kBpp>
bool Unfilter(int filter, const BYTE* in, BYTE* out, const BYTE* above, std::size_t bytes,
              const PaethRowsFor<kBpp>& paeth)
{
    switch (filter) {
    case 0:
        std::memcpy(out, in, bytes);
        return true;
    case 1:
        std::memcpy(out, in, kBpp);
        for (std::size_t i = kBpp; i < bytes; ++i)
            out[i] = static_cast<BYTE>(in[i] + out[i - kBpp]);
        return true;
    case 2:
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = static_cast<BYTE>(in[i] + above[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < kBpp; ++i)
            out[i] = static_cast<BYTE>(in[i] + (above[i] >> 1));
        for (std::size_t i = kBpp; i < bytes; ++i)
            out[i] = static_cast<BYTE>(in[i] + ((out[i - kBpp] + above[i]) >> 1));
        return true;
    case 4:
        paeth.row(in, out, above, bytes / kBpp);
        return true;
    default:
        return false;
    }
}

// RGB(A) bytes to the B, G, R, A order of the 32-bit formats.
template <int kBpp>
void ToBgra(const BYTE* in, BYTE* out, std::size_t width)
{
    for (std::size_t x = 0; x < width; ++x, in += kBpp, out += 4) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = kBpp == 4 ? in[3] : BYTE{0xFF};
    }
}

// Rows are unfiltered into three buffers in turn, each the row above for
// the next: writing them back into the inflated data would have each
// pixel's load wait on the store before it.  Two rows in a row that both
// use the Paeth predictor are unfiltered together.
template <int kBpp>
bool UnfilterAll(const BYTE* raw, std::size_t width, std::size_t height, BYTE* pixels)
{
    const std::size_t bytes = width * kBpp, stride = bytes + 1;
    // Zeros (the row above the first) and padding for the word moves.
    std::vector<BYTE> buffers(3 * (bytes + 4));
    BYTE* rows[3] = {buffers.data(), buffers.data() + bytes + 4, buffers.data() + 2 * (bytes + 4)};
    const PaethRowsFor<kBpp> paeth;
    for (std::size_t y = 0; y < height;) {
        const BYTE* in = raw + y * stride;
        BYTE* out = rows[y % 3];
        const BYTE* above = rows[(y + 2) % 3];
        if (paeth.rows && in[0] == 4 && y + 1 < height && in[stride] == 4) {
            BYTE* below = rows[(y + 1) % 3];
            paeth.rows(in + 1, in + stride + 1, out, below, above, width);
            ToBgra<kBpp>(out, pixels + y * width * 4, width);
            ToBgra<kBpp>(below, pixels + (y + 1) * width * 4, width);
            y += 2;
            continue;
        }
        if (!Unfilter<kBpp>(in[0], in + 1, out, above, bytes, paeth))
            return false;
        ToBgra<kBpp>(out, pixels + y * width * 4, width);
        ++y;
    }
    return true;
}

constexpr std::size_t kMaxInflated = std::size_t{256} << 20;

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

} // namespace

bool DecodePlainPng(Bytes data, Picture& out)
{
    Header header;
    std::vector<Bytes> idat;
    if (!ReadChunks(data, header, idat))
        return false;
    const std::size_t width = header.width, height = header.height;
    const std::size_t rawBytes = height * (1 + width * static_cast<std::size_t>(header.channels));
    if (rawBytes > 1032 * static_cast<std::uint64_t>(data.size()) + 1024)
        return false;
    // The whole inflated stream is held beside the picture; for the largest
    // pictures libpng's row-at-a-time reading keeps the peak lower.
    if (rawBytes > kMaxInflated)
        return false;
    // One zlib stream with a 32 KB window (libpng refuses distances past a
    // smaller declared window, libdeflate would not).
    std::vector<BYTE> joined;
    Bytes stream = idat[0];
    if (idat.size() > 1) {
        std::size_t total = 0;
        for (Bytes part : idat)
            total += part.size();
        joined.reserve(total);
        for (Bytes part : idat)
            joined.insert(joined.end(), part.begin(), part.end());
        stream = joined;
    }
    if (stream.size() < 2 || stream[0] != 0x78)
        return false;
    // Not cleared: the inflate fills it all or the file is refused.  Four
    // bytes of padding for the unfiltering's word loads.
    const std::unique_ptr<BYTE[]> raw(new BYTE[rawBytes + 4]);
    std::memset(raw.get() + rawBytes, 0, 4);
    const std::unique_ptr<libdeflate_decompressor, DecompressorFree> inflater(libdeflate_alloc_decompressor());
    if (!inflater)
        return false;
    std::size_t usedIn = 0, madeOut = 0;
    if (libdeflate_zlib_decompress_ex(inflater.get(), stream.data(), stream.size(), raw.get(), rawBytes, &usedIn,
                                      &madeOut) != LIBDEFLATE_SUCCESS ||
        usedIn != stream.size() || madeOut != rawBytes)
        return false;
    // The joined stream goes before the picture comes: fresh memory is
    // what a run of a few files pays most for.
    std::vector<BYTE>().swap(joined);
    const bool alpha = header.channels == 4;
    std::vector<BYTE>& pixels =
        out.AllocateTop(alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8, header.width, header.height);
    const bool ok = alpha ? UnfilterAll<4>(raw.get(), width, height, pixels.data())
                          : UnfilterAll<3>(raw.get(), width, height, pixels.data());
    if (!ok)
        out.levels.clear();
    return ok;
}

} // namespace d3dx::image
