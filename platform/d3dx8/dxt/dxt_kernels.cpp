// The encoder's inner loops: plain C++ (the reference every other path is
// checked against, and what the scalar path runs) and SSE2 (part of every
// x86-64 processor); the AVX2 ones are built with the AVX2 encoder
// (dxt_encoder_avx2.cpp).  The kernel table of each path is here.  All
// arithmetic is integer, so every path returns exactly the same indices
// and errors.
#include "dxt_internal.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/d3dx8/dxt/dxt_colour_stages.h"

namespace dxt {
namespace detail {

namespace {

// The colour kernel of the stages (EvaluateColour) for one block.
std::uint32_t ColourScalar(const ColourSet& s, std::uint16_t c0, std::uint16_t c1, bool four, std::uint32_t* indices)
{
    // The kernels' pairs are (r, g) and (b, 0) per texel, as 32-bit words.
    std::int32_t rg[16], bz[16];
    std::memcpy(rg, s.rg, sizeof rg);
    std::memcpy(bz, s.bz, sizeof bz);
    std::int32_t error, packed;
    EvaluateColour<std::int32_t, bool>(rg, bz, s.mask, c0, c1, four, s, error, packed);
    if (indices)
        *indices = static_cast<std::uint32_t>(packed);
    return static_cast<std::uint32_t>(error);
}

std::uint32_t AlphaScalar(const std::uint8_t alpha[16], const std::uint8_t mask[16], int a0, int a1,
                          std::uint64_t* indices)
{
    std::uint8_t palette[8];
    AlphaPalette(a0, a1, palette);
    std::uint32_t total = 0;
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        int best = 256, bestIndex = 0;
        for (int k = 0; k < 8; ++k) {
            const int d = alpha[i] > palette[k] ? alpha[i] - palette[k] : palette[k] - alpha[i];
            if (d < best) {
                best = d;
                bestIndex = k;
            }
        }
        bits |= static_cast<std::uint64_t>(bestIndex) << (3 * i);
        best &= mask[i];
        total += static_cast<std::uint32_t>(best * best);
    }
    if (indices)
        *indices = bits;
    return total;
}

// The fit's sums from the indices, one alpha at a time.
template <AlphaKernel kOne>
std::uint32_t AlphaFitOf(const std::uint8_t alpha[16], const std::uint8_t mask[16], int a0, int a1,
                         AlphaMoments& moments)
{
    std::uint64_t bits = 0;
    const std::uint32_t error = kOne(alpha, mask, a0, a1, &bits);
    const int mode = a0 > a1 ? 1 : 0;
    moments = AlphaMoments{};
    for (int i = 0; i < 16; ++i) {
        if (!mask[i])
            continue;
        const int index = static_cast<int>(bits >> (3 * i) & 7);
        const int w = kAlphaWeightA0[mode][index], v = kAlphaWeightA1[mode][index], x = alpha[i];
        moments.ww += w * w;
        moments.wv += w * v;
        moments.vv += v * v;
        moments.wx += w * x;
        moments.vx += v * x;
    }
    return error;
}

// Four pairs, one at a time.
template <AlphaKernel kOne>
void AlphaQuadOf(const std::uint8_t alpha[16], const std::uint8_t mask[16], const int ends[8],
                 std::uint32_t errors[4])
{
    for (int q = 0; q < 4; ++q)
        errors[q] = kOne(alpha, mask, ends[2 * q], ends[2 * q + 1], nullptr);
}

std::uint16_t OpaqueBitsScalar(const std::uint8_t rgba[64])
{
    unsigned bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= static_cast<unsigned>(rgba[4 * i + 3] >> 7) << i;
    return static_cast<std::uint16_t>(bits);
}

#if defined(__x86_64__)

// Spreads the 16 bits of v to the even bit positions of the result.
inline std::uint32_t SpreadBits(std::uint32_t v)
{
    v = (v | (v << 8)) & 0x00FF00FFu;
    v = (v | (v << 4)) & 0x0F0F0F0Fu;
    v = (v | (v << 2)) & 0x33333333u;
    return (v | (v << 1)) & 0x55555555u;
}

// 16 bytes holding 0..3 -> 2 bits each, byte 0 in the low bits.
inline std::uint32_t PackIndexBytes(__m128i bytes)
{
    const auto low = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_slli_epi16(bytes, 7)));
    const auto high = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_slli_epi16(bytes, 6)));
    return SpreadBits(low) | (SpreadBits(high) << 1);
}

inline __m128i Select(__m128i take, __m128i a, __m128i b)
{
    return _mm_or_si128(_mm_and_si128(take, a), _mm_andnot_si128(take, b));
}

// The stages' palette and nearest-entry step over four texels at a time.
std::uint32_t ColourSse2(const ColourSet& s, std::uint16_t c0, std::uint16_t c1, bool four, std::uint32_t* indices)
{
    std::int32_t prg[4], pbz[4];
    PalettePairs<std::int32_t, bool>(c0, c1, four, prg, pbz);
    I4 crg[4], cbz[4];
    for (int e = 0; e < 4; ++e) {
        crg[e] = Splat<I4>(prg[e]);
        cbz[e] = Splat<I4>(pbz[e]);
    }
    I4 total{}, index[4];
    for (int g = 0; g < 4; ++g) {
        I4 rg, bz, mask, best;
        std::memcpy(&rg, s.rg + 8 * g, sizeof rg);
        std::memcpy(&bz, s.bz + 8 * g, sizeof bz);
        std::memcpy(&mask, s.mask + 4 * g, sizeof mask);
        NearestEntry(rg, bz, crg, cbz, four, s, s.weighted, best, index[g]);
        total += best & mask;
    }
    if (indices) {
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32((__m128i)index[0], (__m128i)index[1]),
                                               _mm_packs_epi32((__m128i)index[2], (__m128i)index[3]));
        *indices = PackIndexBytes(bytes);
    }
    return HorizontalSum((__m128i)total);
}

std::uint32_t AlphaSse2(const std::uint8_t alpha[16], const std::uint8_t mask[16], int a0, int a1,
                        std::uint64_t* indices)
{
    std::uint8_t palette[8];
    AlphaPalette(a0, a1, palette);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha));
    __m128i best = _mm_set1_epi8(static_cast<char>(-1)), index = _mm_setzero_si128();
    for (int k = 0; k < 8; ++k) {
        const __m128i p = _mm_set1_epi8(static_cast<char>(palette[k]));
        const __m128i d = _mm_or_si128(_mm_subs_epu8(a, p), _mm_subs_epu8(p, a));
        if (indices) {
            // d < best, unsigned: best is the larger and they differ.
            const __m128i less =
                _mm_andnot_si128(_mm_cmpeq_epi8(d, best), _mm_cmpeq_epi8(_mm_max_epu8(d, best), best));
            index = Select(less, _mm_set1_epi8(static_cast<char>(k)), index);
        }
        best = _mm_min_epu8(best, d);
    }
    if (indices)
        *indices = PackAlphaIndexBytes(index);
    return SumSquaresOfBytes(_mm_and_si128(best, _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask))));
}

// The top bit of each texel's little-endian R, G, B, A word, four texels
// to a sign mask.
std::uint16_t OpaqueBitsSse2(const std::uint8_t rgba[64])
{
    unsigned bits = 0;
    for (int g = 0; g < 4; ++g) {
        __m128 words;
        std::memcpy(&words, rgba + 16 * g, sizeof words);
        bits |= static_cast<unsigned>(_mm_movemask_ps(words)) << (4 * g);
    }
    return static_cast<std::uint16_t>(bits);
}

#endif

} // namespace

const Kernels kPortableKernels{ColourScalar,
                               AlphaScalar,
                               AlphaQuadOf<AlphaScalar>,
                               AlphaFitOf<AlphaScalar>,
                               EncodeAlphaInterpolatedScalar,
                               OpaqueBitsScalar};
#if defined(__x86_64__)
const Kernels kSse2Kernels{ColourSse2,
                           AlphaSse2,
                           AlphaQuadOf<AlphaSse2>,
                           AlphaFitOf<AlphaSse2>,
                           EncodeAlphaInterpolatedSse2,
                           OpaqueBitsSse2};
// The AVX2 path's own kernels are built with its encoder (dxt_encoder_avx2.cpp).
const Kernels kAvx2Kernels{ColourAvx2,   AlphaAvx2, AlphaQuadAvx2, AlphaFitAvx2, EncodeAlphaInterpolatedSse2,
                           OpaqueBitsSse2};
#endif

} // namespace detail
} // namespace dxt
