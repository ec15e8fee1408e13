// The encoder's inner loops in three forms: plain C++ (the reference every
// other path is checked against, and what the scalar path runs), SSE2
// (part of every x86-64 processor) and AVX2 (used only when the processor
// reports it).  All arithmetic is integer, so every path returns exactly
// the same indices and errors.
#include "dxt_internal.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "dxt_colour_stages.h"

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

AlphaRange GatherAlphaScalar(const std::uint8_t rgba[64], std::uint16_t valid, std::uint8_t alpha[16],
                             std::uint8_t mask[16])
{
    AlphaRange r;
    for (int i = 0; i < 16; ++i) {
        const bool on = valid >> i & 1;
        const int a = rgba[4 * i + 3];
        alpha[i] = static_cast<std::uint8_t>(on ? a : 0);
        mask[i] = on ? 0xFF : 0;
        if (!on)
            continue;
        r.lo = std::min(r.lo, a);
        r.hi = std::max(r.hi, a);
        if (a != 0 && a != 255) {
            r.innerLo = std::min(r.innerLo, a);
            r.innerHi = std::max(r.innerHi, a);
        }
    }
    return r;
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

inline std::uint32_t HorizontalSum(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

inline __m128i Select(__m128i take, __m128i a, __m128i b)
{
    return _mm_or_si128(_mm_and_si128(take, a), _mm_andnot_si128(take, b));
}

std::uint32_t ColourSse2(const ColourSet& s, std::uint16_t c0, std::uint16_t c1, bool four, std::uint32_t* indices)
{
    std::uint8_t palette[4][4];
    ColourPalette(c0, c1, four, palette);
    const int count = four ? 4 : 3;
    __m128i crg[4], cbz[4];
    for (int c = 0; c < count; ++c) {
        crg[c] = _mm_set1_epi32(palette[c][0] | (palette[c][1] << 16));
        cbz[c] = _mm_set1_epi32(palette[c][2]);
    }
    const __m128i wrg = _mm_set1_epi32(static_cast<std::uint16_t>(s.wrg[0]) | (s.wrg[1] << 16));
    const __m128i wb = _mm_set1_epi32(s.wb);
    __m128i total = _mm_setzero_si128();
    __m128i index[4];
    for (int g = 0; g < 4; ++g) {
        const __m128i rg = _mm_load_si128(reinterpret_cast<const __m128i*>(s.rg + 8 * g));
        const __m128i bz = _mm_load_si128(reinterpret_cast<const __m128i*>(s.bz + 8 * g));
        __m128i best = _mm_set1_epi32(INT_MAX), bestIndex = _mm_setzero_si128();
        for (int c = 0; c < count; ++c) {
            const __m128i d1 = _mm_sub_epi16(rg, crg[c]);
            const __m128i d2 = _mm_sub_epi16(bz, cbz[c]);
            __m128i e;
            if (s.weighted)
                e = _mm_add_epi32(_mm_madd_epi16(_mm_mullo_epi16(d1, wrg), d1),
                                  _mm_madd_epi16(_mm_mullo_epi16(d2, wb), d2));
            else
                e = _mm_add_epi32(_mm_madd_epi16(d1, d1), _mm_madd_epi16(d2, d2));
            const __m128i less = _mm_cmplt_epi32(e, best);
            best = Select(less, e, best);
            bestIndex = Select(less, _mm_set1_epi32(c), bestIndex);
        }
        index[g] = bestIndex;
        total = _mm_add_epi32(total,
                              _mm_and_si128(best, _mm_load_si128(reinterpret_cast<const __m128i*>(s.mask + 4 * g))));
    }
    if (indices) {
        const __m128i bytes =
            _mm_packus_epi16(_mm_packs_epi32(index[0], index[1]), _mm_packs_epi32(index[2], index[3]));
        *indices = PackIndexBytes(bytes);
    }
    return HorizontalSum(total);
}

inline std::uint32_t SumSquaresOfBytes(__m128i v)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
    return HorizontalSum(_mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
}

// 16 bytes holding 0..7 -> 3 bits each, byte 0 in the low bits.
inline std::uint64_t PackAlphaIndexBytes(__m128i index)
{
    alignas(16) std::uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), index);
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= static_cast<std::uint64_t>(bytes[i]) << (3 * i);
    return bits;
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

// The lowest or highest of 16 bytes, as op (min or max of bytes) picks.
template <class Op>
inline int ReduceBytes(__m128i v, Op op)
{
    v = op(v, _mm_srli_si128(v, 8));
    v = op(v, _mm_srli_si128(v, 4));
    v = op(v, _mm_srli_si128(v, 2));
    v = op(v, _mm_srli_si128(v, 1));
    return _mm_cvtsi128_si32(v) & 0xFF;
}
inline int LowestByte(__m128i v)
{
    return ReduceBytes(v, [](__m128i a, __m128i b) { return _mm_min_epu8(a, b); });
}
inline int HighestByte(__m128i v)
{
    return ReduceBytes(v, [](__m128i a, __m128i b) { return _mm_max_epu8(a, b); });
}

// Without a branch per texel: which texels count and where their alphas
// lie is data, which the processor cannot predict.
AlphaRange GatherAlphaSse2(const std::uint8_t rgba[64], std::uint16_t valid, std::uint8_t alpha[16],
                           std::uint8_t mask[16])
{
    AlphaRange r;
    __m128i words[4];
    std::memcpy(words, rgba, sizeof words);
    const __m128i low = _mm_packs_epi32(_mm_srli_epi32(words[0], 24), _mm_srli_epi32(words[1], 24));
    const __m128i high = _mm_packs_epi32(_mm_srli_epi32(words[2], 24), _mm_srli_epi32(words[3], 24));
    const __m128i a = _mm_packus_epi16(low, high);
    // Bit i of valid to byte i.
    const __m128i bit = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m128i spread = _mm_set_epi64x(static_cast<std::int64_t>((valid >> 8) * 0x0101010101010101ull),
                                          static_cast<std::int64_t>((valid & 0xFF) * 0x0101010101010101ull));
    const __m128i on = _mm_cmpeq_epi8(_mm_and_si128(spread, bit), bit);
    const __m128i ones = _mm_set1_epi8(-1), zero = _mm_setzero_si128();
    const __m128i inner = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(a, ones)), on);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha), _mm_and_si128(a, on));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mask), on);
    // Texels left out read as 255 for the lowest and 0 for the highest.
    r.lo = LowestByte(_mm_or_si128(a, _mm_andnot_si128(on, ones)));
    r.hi = HighestByte(_mm_and_si128(a, on));
    r.innerLo = LowestByte(_mm_or_si128(a, _mm_andnot_si128(inner, ones)));
    r.innerHi = HighestByte(_mm_and_si128(a, inner));
    return r;
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

// The colour palette in vectors: 16-bit lanes (r, g, b, 0) of entry 0 and
// then entry 1 in `ends`, of entries 2 and 3 in `blends` (entry 2 alone in
// the 3-colour mode).  Exactly ColourPalette's values: a 5-bit code c
// widens to c * 132 / 16 (c << 3 | c >> 2) and a 6-bit one to c * 65 / 16
// (c << 2 | c >> 4), and the division by 3 is a multiply by the rounded-up
// reciprocal 2^17 / 3, exact for any 16-bit sum.
inline void ColourPaletteSse2(std::uint16_t c0, std::uint16_t c1, bool four, __m128i& ends, __m128i& blends)
{
    __m128i codes = _mm_cvtsi32_si128(c0 | c1 << 16);
    codes = _mm_unpacklo_epi16(codes, codes);
    codes = _mm_unpacklo_epi32(codes, codes);  // c0 c0 c0 c0 c1 c1 c1 c1
    // Red and green shifted down by a high multiply; blue as it is.
    const __m128i shifted = _mm_mulhi_epu16(codes, _mm_setr_epi16(32, 2048, 0, 0, 32, 2048, 0, 0));
    codes = _mm_or_si128(shifted, _mm_and_si128(codes, _mm_setr_epi16(0, 0, -1, 0, 0, 0, -1, 0)));
    codes = _mm_and_si128(codes, _mm_setr_epi16(31, 63, 31, 0, 31, 63, 31, 0));
    ends = _mm_srli_epi16(_mm_mullo_epi16(codes, _mm_setr_epi16(132, 65, 132, 0, 132, 65, 132, 0)), 4);
    const __m128i swapped = _mm_shuffle_epi32(ends, _MM_SHUFFLE(1, 0, 3, 2));
    if (four) {
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(ends, ends), _mm_add_epi16(swapped, _mm_set1_epi16(1)));
        blends = _mm_srli_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(static_cast<short>(0xAAAB))), 1);
    } else {
        blends = _mm_avg_epu16(ends, swapped);
    }
}

// Built for each mode, so that the loops over the palette unroll.
template <bool kFour, bool kWeighted>
__attribute__((target("avx2"))) inline std::uint32_t ColourAvx2Mode(const ColourSet& s, std::uint16_t c0,
                                                                   std::uint16_t c1, std::uint32_t* indices)
{
    // Each entry's (r, g) and (b, 0) words across all lanes.
    __m128i ends, blends;
    ColourPaletteSse2(c0, c1, kFour, ends, blends);
    const __m256i wideEnds = _mm256_castsi128_si256(ends), wideBlends = _mm256_castsi128_si256(blends);
    constexpr int count = kFour ? 4 : 3;
    __m256i crg[4], cbz[4];
    for (int c = 0; c < count; ++c) {
        const __m256i source = c < 2 ? wideEnds : wideBlends;
        crg[c] = _mm256_permutevar8x32_epi32(source, _mm256_set1_epi32(2 * (c & 1)));
        cbz[c] = _mm256_permutevar8x32_epi32(source, _mm256_set1_epi32(2 * (c & 1) + 1));
    }
    const __m256i wrg = _mm256_set1_epi32(static_cast<std::uint16_t>(s.wrg[0]) | (s.wrg[1] << 16));
    const __m256i wb = _mm256_set1_epi32(s.wb);
    __m256i total = _mm256_setzero_si256();
    __m256i packed = _mm256_setzero_si256();
    const __m256i shifts = _mm256_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14);
    for (int g = 0; g < 2; ++g) {
        const __m256i rg = _mm256_load_si256(reinterpret_cast<const __m256i*>(s.rg + 16 * g));
        const __m256i bz = _mm256_load_si256(reinterpret_cast<const __m256i*>(s.bz + 16 * g));
        __m256i best = _mm256_set1_epi32(INT_MAX), bestIndex = _mm256_setzero_si256();
        for (int c = 0; c < count; ++c) {
            const __m256i d1 = _mm256_sub_epi16(rg, crg[c]);
            const __m256i d2 = _mm256_sub_epi16(bz, cbz[c]);
            __m256i e;
            if constexpr (kWeighted)
                e = _mm256_add_epi32(_mm256_madd_epi16(_mm256_mullo_epi16(d1, wrg), d1),
                                     _mm256_madd_epi16(_mm256_mullo_epi16(d2, wb), d2));
            else
                e = _mm256_add_epi32(_mm256_madd_epi16(d1, d1), _mm256_madd_epi16(d2, d2));
            const __m256i less = _mm256_cmpgt_epi32(best, e);
            best = _mm256_min_epi32(best, e);
            bestIndex = _mm256_blendv_epi8(bestIndex, _mm256_set1_epi32(c), less);
        }
        // Texel 8g+j lands at bit 2j of lane j, then at 16g by the shift below.
        packed = _mm256_or_si256(packed, _mm256_slli_epi32(_mm256_sllv_epi32(bestIndex, shifts), 16 * g));
        total = _mm256_add_epi32(
            total, _mm256_and_si256(best, _mm256_load_si256(reinterpret_cast<const __m256i*>(s.mask + 8 * g))));
    }
    if (indices) {
        __m128i p = _mm_or_si128(_mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1));
        p = _mm_or_si128(p, _mm_shuffle_epi32(p, _MM_SHUFFLE(1, 0, 3, 2)));
        p = _mm_or_si128(p, _mm_shuffle_epi32(p, _MM_SHUFFLE(2, 3, 0, 1)));
        *indices = static_cast<std::uint32_t>(_mm_cvtsi128_si32(p));
    }
    const __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(total), _mm256_extracti128_si256(total, 1));
    return HorizontalSum(sum);
}

__attribute__((target("avx2"))) std::uint32_t ColourAvx2(const ColourSet& s, std::uint16_t c0, std::uint16_t c1,
                                                         bool four, std::uint32_t* indices)
{
    if (s.weighted)
        return four ? ColourAvx2Mode<true, true>(s, c0, c1, indices) : ColourAvx2Mode<false, true>(s, c0, c1, indices);
    return four ? ColourAvx2Mode<true, false>(s, c0, c1, indices) : ColourAvx2Mode<false, false>(s, c0, c1, indices);
}

// 32-byte vectors are passed only between functions built for AVX2, all
// inlined into their callers here.
#pragma GCC diagnostic ignored "-Wpsabi"

// The palettes of interpolated alpha in vectors: per 16-bit lane of a
// 128-bit half, entry k = (w0 a0 + w1 a1 + bias) / d, the division by 5 or 7
// a multiply by a rounded-up reciprocal (exact for these sums: below 1789).
// Entries 0 and 1 come out as a0 and a1 themselves; the 6-value mode's 0
// and 255 from the bias alone.  [mode][lane], mode 1 for a0 > a1.
struct AlphaRule {
    alignas(16) std::int16_t w0[2][8], w1[2][8], bias[2][8], reciprocal[2][8];
};
constexpr AlphaRule MakeAlphaRule()
{
    AlphaRule rule{};
    for (int mode = 0; mode < 2; ++mode)
        for (int k = 0; k < 8; ++k) {
            rule.w0[mode][k] = kAlphaWeightA0[mode][k];
            rule.w1[mode][k] = kAlphaWeightA1[mode][k];
            rule.bias[mode][k] = mode ? 3 : k == 7 ? 1275 : 2;
            rule.reciprocal[mode][k] = mode ? 9363 : 13108;
        }
    return rule;
}
constexpr AlphaRule kAlphaRule = MakeAlphaRule();

// One row of the rule for each half, by the halves' modes.
__attribute__((target("avx2"))) inline __m256i AlphaRuleRows(const std::int16_t (&row)[2][8], bool first, bool second)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(row[first]))),
                                   _mm_load_si128(reinterpret_cast<const __m128i*>(row[second])), 1);
}

// Palette entries 0..7 of each half as 16-bit values.
__attribute__((target("avx2"))) inline __m256i AlphaPalettes(int a0, int a1, int b0, int b1)
{
    const bool ea = a0 > a1, eb = b0 > b1;
    const __m256i e0 = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_set1_epi16(static_cast<short>(a0))),
                                               _mm_set1_epi16(static_cast<short>(b0)), 1);
    const __m256i e1 = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_set1_epi16(static_cast<short>(a1))),
                                               _mm_set1_epi16(static_cast<short>(b1)), 1);
    const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(AlphaRuleRows(kAlphaRule.w0, ea, eb), e0),
                                                          _mm256_mullo_epi16(AlphaRuleRows(kAlphaRule.w1, ea, eb), e1)),
                                         AlphaRuleRows(kAlphaRule.bias, ea, eb));
    return _mm256_mulhi_epu16(sum, AlphaRuleRows(kAlphaRule.reciprocal, ea, eb));
}

// Per byte of `alpha` (two halves), the distance to the nearest entry of
// the half's palette (bytes 0..7 of `palette`).
__attribute__((target("avx2"))) inline __m256i NearestAlpha(__m256i alpha, __m256i palette)
{
    __m256i best = _mm256_set1_epi8(static_cast<char>(-1));
    for (int k = 0; k < 8; ++k) {
        const __m256i p = _mm256_shuffle_epi8(palette, _mm256_set1_epi8(static_cast<char>(k)));
        best = _mm256_min_epu8(best, _mm256_or_si256(_mm256_subs_epu8(alpha, p), _mm256_subs_epu8(p, alpha)));
    }
    return best;
}

// Sums of the squared bytes of each half: in lanes 0 and 4.
__attribute__((target("avx2"))) inline __m256i SumSquaresOfHalves(__m256i v)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_unpacklo_epi8(v, zero), hi = _mm256_unpackhi_epi8(v, zero);
    __m256i s = _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi));
    s = _mm256_add_epi32(s, _mm256_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
    return _mm256_add_epi32(s, _mm256_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
}

// The nearest palette entry for each alpha of one pair: distances in
// `best`, indices (lowest on ties) in `index`.
__attribute__((target("avx2"))) inline void NearestAlphaWithIndex(__m128i a, int a0, int a1, __m128i& best,
                                                                  __m128i& index)
{
    const __m256i wide = AlphaPalettes(a0, a1, a0, a1);
    const __m128i palette = _mm_packus_epi16(_mm256_castsi256_si128(wide), _mm256_castsi256_si128(wide));
    best = _mm_set1_epi8(static_cast<char>(-1));
    index = _mm_setzero_si128();
    for (int k = 0; k < 8; ++k) {
        const __m128i p = _mm_shuffle_epi8(palette, _mm_set1_epi8(static_cast<char>(k)));
        const __m128i d = _mm_or_si128(_mm_subs_epu8(a, p), _mm_subs_epu8(p, a));
        const __m128i notLess = _mm_cmpeq_epi8(_mm_min_epu8(d, best), best);
        index = _mm_blendv_epi8(_mm_set1_epi8(static_cast<char>(k)), index, notLess);
        best = _mm_min_epu8(best, d);
    }
}

__attribute__((target("avx2"))) std::uint32_t AlphaAvx2(const std::uint8_t alpha[16], const std::uint8_t mask[16],
                                                        int a0, int a1, std::uint64_t* indices)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha));
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask));
    __m128i best, index;
    NearestAlphaWithIndex(a, a0, a1, best, index);
    if (indices)
        *indices = PackAlphaIndexBytes(index);
    return SumSquaresOfBytes(_mm_and_si128(best, m));
}

__attribute__((target("avx2"))) inline std::int32_t SumOfPairs(__m128i pairs)
{
    return static_cast<std::int32_t>(HorizontalSum(_mm_madd_epi16(pairs, _mm_set1_epi16(1))));
}

__attribute__((target("avx2"))) std::uint32_t AlphaFitAvx2(const std::uint8_t alpha[16], const std::uint8_t mask[16],
                                                           int a0, int a1, AlphaMoments& moments)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha));
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask));
    __m128i best, index;
    NearestAlphaWithIndex(a, a0, a1, best, index);
    // Each alpha's weights by its index; alphas that do not count look up
    // with the top bit set, which reads zero.
    const int mode = a0 > a1 ? 1 : 0;
    const __m128i w0 = _mm_load_si128(reinterpret_cast<const __m128i*>(kAlphaRule.w0[mode]));
    const __m128i w1 = _mm_load_si128(reinterpret_cast<const __m128i*>(kAlphaRule.w1[mode]));
    const __m128i lookup = _mm_or_si128(index, _mm_andnot_si128(m, _mm_set1_epi8(static_cast<char>(0x80))));
    const __m128i w = _mm_shuffle_epi8(_mm_packus_epi16(w0, w0), lookup);
    const __m128i v = _mm_shuffle_epi8(_mm_packus_epi16(w1, w1), lookup);
    // Byte products summed in pairs: at most 2 * 7 * 255, inside 16 bits.
    moments.ww = SumOfPairs(_mm_maddubs_epi16(w, w));
    moments.wv = SumOfPairs(_mm_maddubs_epi16(w, v));
    moments.vv = SumOfPairs(_mm_maddubs_epi16(v, v));
    moments.wx = SumOfPairs(_mm_maddubs_epi16(a, w));
    moments.vx = SumOfPairs(_mm_maddubs_epi16(a, v));
    return SumSquaresOfBytes(_mm_and_si128(best, m));
}

__attribute__((target("avx2"))) void AlphaQuadAvx2(const std::uint8_t alpha[16], const std::uint8_t mask[16],
                                                   const int ends[8], std::uint32_t errors[4])
{
    const __m256i a = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha)));
    const __m256i m = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mask)));
    const __m256i first = AlphaPalettes(ends[0], ends[1], ends[2], ends[3]);
    const __m256i second = AlphaPalettes(ends[4], ends[5], ends[6], ends[7]);
    const __m256i s0 = SumSquaresOfHalves(_mm256_and_si256(NearestAlpha(a, _mm256_packus_epi16(first, first)), m));
    const __m256i s1 = SumSquaresOfHalves(_mm256_and_si256(NearestAlpha(a, _mm256_packus_epi16(second, second)), m));
    errors[0] = static_cast<std::uint32_t>(_mm256_extract_epi32(s0, 0));
    errors[1] = static_cast<std::uint32_t>(_mm256_extract_epi32(s0, 4));
    errors[2] = static_cast<std::uint32_t>(_mm256_extract_epi32(s1, 0));
    errors[3] = static_cast<std::uint32_t>(_mm256_extract_epi32(s1, 4));
}

#endif

} // namespace

const Kernels kPortableKernels{ColourScalar,           AlphaScalar,      AlphaQuadOf<AlphaScalar>,
                               AlphaFitOf<AlphaScalar>, GatherAlphaScalar, OpaqueBitsScalar};
#if defined(__x86_64__)
const Kernels kSse2Kernels{ColourSse2, AlphaSse2, AlphaQuadOf<AlphaSse2>, AlphaFitOf<AlphaSse2>, GatherAlphaSse2,
                           OpaqueBitsSse2};
const Kernels kAvx2Kernels{ColourAvx2, AlphaAvx2, AlphaQuadAvx2, AlphaFitAvx2, GatherAlphaSse2, OpaqueBitsSse2};
#endif

} // namespace detail
} // namespace dxt
