// The AVX2 path: its kernels, and the colour encoder and split search
// built for AVX2 (wider vectors, three-operand instructions, eight blocks
// side by side) and for the population count instruction, which every AVX2
// processor has (the dispatch checks for both).  The standard headers come first, so that
// only the encoder's code takes the target.
#include "dxt_internal.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,popcnt"))), apply_to = function)
#else
#pragma GCC target("avx2,popcnt")
#endif

#include "platform/d3dx8/dxt/dxt_cluster_search.h"
#include "platform/d3dx8/dxt/dxt_colour_batch.h"

namespace dxt::detail {

// ---------------------------------------------------------------------------
// The AVX2 path's kernels (see dxt_internal.h for what each computes).

namespace {

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

// Built for each mode, so that the loops over the palette unroll: the
// stages' nearest-entry step over eight texels at a time.
template <bool kFour, bool kWeighted>
inline std::uint32_t ColourAvx2Mode(const ColourSet& s, std::uint16_t c0, std::uint16_t c1, std::uint32_t* indices)
{
    // Each entry's (r, g) and (b, 0) words across all lanes.
    __m128i ends, blends;
    ColourPaletteSse2(c0, c1, kFour, ends, blends);
    const __m256i wideEnds = _mm256_castsi128_si256(ends), wideBlends = _mm256_castsi128_si256(blends);
    I8 crg[4], cbz[4];
    for (int e = 0; e < 4; ++e) {
        const __m256i source = e < 2 ? wideEnds : wideBlends;
        crg[e] = (I8)_mm256_permutevar8x32_epi32(source, _mm256_set1_epi32(2 * (e & 1)));
        cbz[e] = (I8)_mm256_permutevar8x32_epi32(source, _mm256_set1_epi32(2 * (e & 1) + 1));
    }
    I8 total{}, packed{};
    const I8 shifts = {0, 2, 4, 6, 8, 10, 12, 14};
    for (int g = 0; g < 2; ++g) {
        I8 rg, bz, mask, best, index;
        std::memcpy(&rg, s.rg + 16 * g, sizeof rg);
        std::memcpy(&bz, s.bz + 16 * g, sizeof bz);
        std::memcpy(&mask, s.mask + 8 * g, sizeof mask);
        NearestEntry(rg, bz, crg, cbz, kFour, s, kWeighted, best, index);
        // Texel 8g+j lands at bit 2j of lane j, then at 16g by the shift.
        packed |= (index << shifts) << (16 * g);
        total += best & mask;
    }
    if (indices) {
        __m128i p = _mm_or_si128(_mm256_castsi256_si128((__m256i)packed), _mm256_extracti128_si256((__m256i)packed, 1));
        p = _mm_or_si128(p, _mm_shuffle_epi32(p, _MM_SHUFFLE(1, 0, 3, 2)));
        p = _mm_or_si128(p, _mm_shuffle_epi32(p, _MM_SHUFFLE(2, 3, 0, 1)));
        *indices = static_cast<std::uint32_t>(_mm_cvtsi128_si32(p));
    }
    return HorizontalSum(
        _mm_add_epi32(_mm256_castsi256_si128((__m256i)total), _mm256_extracti128_si256((__m256i)total, 1)));
}

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
inline __m256i AlphaRuleRows(const std::int16_t (&row)[2][8], bool first, bool second)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(row[first]))),
                                   _mm_load_si128(reinterpret_cast<const __m128i*>(row[second])), 1);
}

// Palette entries 0..7 of each half as 16-bit values.
inline __m256i AlphaPalettes(int a0, int a1, int b0, int b1)
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
inline __m256i NearestAlpha(__m256i alpha, __m256i palette)
{
    __m256i best = _mm256_set1_epi8(static_cast<char>(-1));
    for (int k = 0; k < 8; ++k) {
        const __m256i p = _mm256_shuffle_epi8(palette, _mm256_set1_epi8(static_cast<char>(k)));
        best = _mm256_min_epu8(best, _mm256_or_si256(_mm256_subs_epu8(alpha, p), _mm256_subs_epu8(p, alpha)));
    }
    return best;
}

// Sums of the squared bytes of each half: in lanes 0 and 4.
inline __m256i SumSquaresOfHalves(__m256i v)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_unpacklo_epi8(v, zero), hi = _mm256_unpackhi_epi8(v, zero);
    __m256i s = _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi));
    s = _mm256_add_epi32(s, _mm256_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
    return _mm256_add_epi32(s, _mm256_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
}

// The nearest palette entry for each alpha of one pair: distances in
// `best`, indices (lowest on ties) in `index`.
inline void NearestAlphaWithIndex(__m128i a, int a0, int a1, __m128i& best,
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

inline std::int32_t SumOfPairs(__m128i pairs)
{
    return static_cast<std::int32_t>(HorizontalSum(_mm_madd_epi16(pairs, _mm_set1_epi16(1))));
}

} // namespace

std::uint32_t ColourAvx2(const ColourSet& s, std::uint16_t c0, std::uint16_t c1, bool four, std::uint32_t* indices)
{
    if (s.weighted)
        return four ? ColourAvx2Mode<true, true>(s, c0, c1, indices) : ColourAvx2Mode<false, true>(s, c0, c1, indices);
    return four ? ColourAvx2Mode<true, false>(s, c0, c1, indices) : ColourAvx2Mode<false, false>(s, c0, c1, indices);
}

std::uint32_t AlphaAvx2(const std::uint8_t alpha[16], const std::uint8_t mask[16],
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

std::uint32_t AlphaFitAvx2(const std::uint8_t alpha[16], const std::uint8_t mask[16],
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

void AlphaQuadAvx2(const std::uint8_t alpha[16], const std::uint8_t mask[16],
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

// ---------------------------------------------------------------------------
// The encoder and the split search.

void EncodeColourAvx2(const ColourRequest& request, std::uint8_t block[8])
{
    EncodeColourWith<Avx2Processor>(request, block);
}

void EncodeColoursAvx2(const ColourRequest* requests, int count, std::uint8_t* const blocks[])
{
    EncodeColoursWith<Avx2Processor>(requests, count, blocks);
}

void ColourFrontEndsAvx2(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[])
{
    ColourFrontEndsWith<Avx2Processor>(requests, count, together, out, ran);
}

ClusterResult SearchSplitsAvx2(const ClusterInput& in, bool four, const int lo[3], const int hi[3], SplitScore score)
{
    return SearchAny<F8, I8>(in, four, lo, hi, score);
}

} // namespace dxt::detail

#if defined(__clang__)
#pragma clang attribute pop
#endif
#endif
