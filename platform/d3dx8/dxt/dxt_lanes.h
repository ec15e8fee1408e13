// Lanes: the encoder's stages are written once over a lane type that holds
// one value per block.  One block is a float lane (with std::int32_t and
// bool beside it); eight blocks side by side are an F8 (with I8 and I8
// masks), one AVX2 register.  Four-lane F4 vectors hold one block's three
// channels where it takes per-channel steps side by side, and four splits
// in the split search built for any processor.  Every operation is an
// exactly rounded IEEE one, done in the same order in every lane and
// without fused multiply-adds, so each lane holds the bits its block gets
// alone.
//
// Everything here has internal linkage: each build of the encoder (one for
// any processor, one for AVX2) keeps its own copy, compiled for its
// instruction set.  A build includes this after the standard headers, in
// its target region.  The x86 operations at the end serve the SSE2 kernels
// (four lanes) and the AVX2 build (eight).
#pragma once

#include "dxt_internal.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// For the small helpers and the stages: the encoder's steps are chains
// that the compiler schedules best as one piece.
#define DXT_INLINE inline __attribute__((always_inline))

namespace dxt::detail {

namespace {

// 32-byte vectors are passed only between functions of the AVX2 build,
// where they sit in registers; the warning about their ABI without AVX does
// not apply to these file-local helpers.
#pragma GCC diagnostic ignored "-Wpsabi"

typedef float F4 __attribute__((vector_size(16)));
typedef std::int32_t I4 __attribute__((vector_size(16)));
typedef float F8 __attribute__((vector_size(32)));
typedef std::int32_t I8 __attribute__((vector_size(32)));

template <class F>
struct LaneTypes;

template <>
struct LaneTypes<float> {
    using Int = std::int32_t;
    using Mask = bool;
    using Error = std::uint32_t;
};

// Four lanes: one block's three channels (and one unused), for the stages
// whose per-channel steps one block takes side by side.
template <>
struct LaneTypes<F4> {
    using Int = I4;
    using Mask = I4;
    using Error = I4;
};

template <>
struct LaneTypes<F8> {
    using Int = I8;
    using Mask = I8;  // all ones where true
    using Error = I8;
};

template <class F>
using IntOf = typename LaneTypes<F>::Int;
template <class F>
using MaskOf = typename LaneTypes<F>::Mask;
template <class F>
using ErrorOf = typename LaneTypes<F>::Error;
template <class V>
constexpr int kLanesOf = static_cast<int>(sizeof(V) / sizeof(float));

// The value in every lane.  Vectors from one lane set and shuffled out:
// GCC builds an initialiser list lane by lane, but turns the shuffle into
// a single broadcast.
template <class V, class T>
DXT_INLINE V Splat(T v)
{
    if constexpr (kLanesOf<V> == 1) {
        return static_cast<V>(v);
    } else {
        const V one = {v};
        if constexpr (kLanesOf<V> == 4)
            return __builtin_shufflevector(one, one, 0, 0, 0, 0);
        else
            return __builtin_shufflevector(one, one, 0, 0, 0, 0, 0, 0, 0, 0);
    }
}

template <class F>
DXT_INLINE IntOf<F> SplatInt(std::int32_t v)
{
    return Splat<IntOf<F>>(v);
}

template <class F>
DXT_INLINE MaskOf<F> AllLanes(bool on)
{
    if constexpr (kLanesOf<F> == 1)
        return on;
    else
        return IntOf<F>{} - (on ? 1 : 0);
}

// Truncation towards zero, and back.
DXT_INLINE std::int32_t ToInt(float v) { return static_cast<std::int32_t>(v); }
DXT_INLINE I4 ToInt(F4 v) { return __builtin_convertvector(v, I4); }
DXT_INLINE I8 ToInt(F8 v) { return __builtin_convertvector(v, I8); }
DXT_INLINE float ToFloat(std::int32_t v) { return static_cast<float>(v); }
DXT_INLINE float ToFloat(std::uint32_t v) { return static_cast<float>(v); }
DXT_INLINE F4 ToFloat(I4 v) { return __builtin_convertvector(v, F4); }
DXT_INLINE F8 ToFloat(I8 v) { return __builtin_convertvector(v, F8); }

// The bits of each lane as an integer, and back.
template <class F>
DXT_INLINE IntOf<F> BitsOf(F v)
{
    return __builtin_bit_cast(IntOf<F>, v);
}
DXT_INLINE float FloatOfBits(std::int32_t bits) { return __builtin_bit_cast(float, bits); }
DXT_INLINE F8 FloatOfBits(I8 bits) { return __builtin_bit_cast(F8, bits); }

DXT_INLINE float Abs(float v) { return std::fabs(v); }
DXT_INLINE F8 Abs(F8 v) { return FloatOfBits(BitsOf(v) & 0x7FFFFFFF); }

DXT_INLINE bool Any(bool m) { return m; }

// Sums of the 16 texels' terms (term(t) for texel t) as four groups of
// four, texel t in lane t % 4 of group t / 4, then the four lanes as
// (0 + 1) + (2 + 3): the order every build and every width keeps.  One
// block takes it in vectors of four texels; eight take each term as it
// comes, so that no row of eight-lane terms is stored.
template <class F, class Term>
DXT_INLINE F Sum16(Term term)
{
    if constexpr (kLanesOf<F> == 1) {
        alignas(16) float v[16];
        for (int t = 0; t < 16; ++t)
            v[t] = term(t);
        F4 g[4];
        std::memcpy(g, v, sizeof g);
        const F4 s = (g[0] + g[1]) + (g[2] + g[3]);
        return (s[0] + s[1]) + (s[2] + s[3]);
    } else {
        F part[4];
        for (int k = 0; k < 4; ++k)
            part[k] = (term(k) + term(4 + k)) + (term(8 + k) + term(12 + k));
        return (part[0] + part[1]) + (part[2] + part[3]);
    }
}

// Four rows of 16 values summed as Sum16 sums each, one row per lane.
DXT_INLINE F4 Sum16x4(const float a[16], const float b[16], const float c[16], const float d[16])
{
    auto groups = [](const float* v) {
        F4 g[4];
        std::memcpy(g, v, sizeof g);
        return (g[0] + g[1]) + (g[2] + g[3]);
    };
    const F4 sa = groups(a), sb = groups(b), sc = groups(c), sd = groups(d);
    // Each total as (v0 + v1) + (v2 + v3): shuffles across the four rather
    // than lanes taken out one by one.
    const F4 ab = __builtin_shufflevector(sa, sb, 0, 2, 4, 6) + __builtin_shufflevector(sa, sb, 1, 3, 5, 7);
    const F4 cd = __builtin_shufflevector(sc, sd, 0, 2, 4, 6) + __builtin_shufflevector(sc, sd, 1, 3, 5, 7);
    return __builtin_shufflevector(ab, cd, 0, 2, 4, 6) + __builtin_shufflevector(ab, cd, 1, 3, 5, 7);
}

// The lowest and highest of 16 values in the same tree: a < b ? a : b (and
// a > b ? a : b) over the four groups, then over the four lanes the first
// of equal values (as std::min and std::max take it).
template <class F>
DXT_INLINE void Extremes16(const F low[16], const F high[16], F& lowest, F& highest)
{
    F lo[4], hi[4];
    if constexpr (kLanesOf<F> == 1) {
        F4 l[4], h[4];
        std::memcpy(l, low, sizeof l);
        std::memcpy(h, high, sizeof h);
        auto lower = [](F4 a, F4 b) { return a < b ? a : b; };
        auto higher = [](F4 a, F4 b) { return a > b ? a : b; };
        const F4 lv = lower(lower(l[0], l[1]), lower(l[2], l[3]));
        const F4 hv = higher(higher(h[0], h[1]), higher(h[2], h[3]));
        for (int k = 0; k < 4; ++k) {
            lo[k] = lv[k];
            hi[k] = hv[k];
        }
    } else {
        for (int k = 0; k < 4; ++k) {
            const F l0 = low[k] < low[4 + k] ? low[k] : low[4 + k];
            const F l1 = low[8 + k] < low[12 + k] ? low[8 + k] : low[12 + k];
            lo[k] = l0 < l1 ? l0 : l1;
            const F h0 = high[k] > high[4 + k] ? high[k] : high[4 + k];
            const F h1 = high[8 + k] > high[12 + k] ? high[8 + k] : high[12 + k];
            hi[k] = h0 > h1 ? h0 : h1;
        }
    }
    const F lo01 = lo[1] < lo[0] ? lo[1] : lo[0], lo23 = lo[3] < lo[2] ? lo[3] : lo[2];
    lowest = lo23 < lo01 ? lo23 : lo01;
    const F hi01 = hi[0] < hi[1] ? hi[1] : hi[0], hi23 = hi[2] < hi[3] ? hi[3] : hi[2];
    highest = hi01 < hi23 ? hi23 : hi01;
}

// The four colours of a colour block, per channel, from the endpoint codes
// in each lane: the 4-colour rule's thirds where `four` is set, else the
// midpoint (entry 3 is then unused).  The decoding rules: a 5-bit code c
// widens to c << 3 | c >> 2, a 6-bit one to c << 2 | c >> 4, the thirds are
// (2 e0 + e1 + 1) / 3 (a multiply by the rounded-up reciprocal 2^17 / 3,
// exact below 2^16) and the midpoint (e0 + e1 + 1) / 2.
template <class I, class M>
DXT_INLINE void ColourEntries(I c0, I c1, M four, I entry[4][3])
{
    const I code0[3] = {(c0 >> 11) & 31, (c0 >> 5) & 63, c0 & 31};
    const I code1[3] = {(c1 >> 11) & 31, (c1 >> 5) & 63, c1 & 31};
    for (int ch = 0; ch < 3; ++ch) {
        const I e0 = ch == 1 ? (code0[ch] << 2) | (code0[ch] >> 4) : (code0[ch] << 3) | (code0[ch] >> 2);
        const I e1 = ch == 1 ? (code1[ch] << 2) | (code1[ch] >> 4) : (code1[ch] << 3) | (code1[ch] >> 2);
        entry[0][ch] = e0;
        entry[1][ch] = e1;
        const I third = ((e0 + e0 + e1 + 1) * 0xAAAB) >> 17;
        const I mid = (e0 + e1 + 1) >> 1;
        entry[2][ch] = four ? third : mid;
        entry[3][ch] = ((e0 + e1 + e1 + 1) * 0xAAAB) >> 17;
    }
}

// The weighted squared distance of texels (rg, bz) to palette entries
// (prg, pbz), all as pairs: (r, g) as two 16-bit values, and (b, 0), so
// that one multiply-add of pairs gives it.  The differences fit 16 bits, and so do their
// products with the weights (1..128).
DXT_INLINE std::int32_t PairDistance(std::int32_t rg, std::int32_t bz, std::int32_t prg, std::int32_t pbz,
                                 const ColourSet& w, bool weighted)
{
    const std::int32_t dr = static_cast<std::int16_t>(rg) - static_cast<std::int16_t>(prg);
    const std::int32_t dg = (rg >> 16) - (prg >> 16), db = bz - pbz;
    if (!weighted)
        return dr * dr + dg * dg + db * db;
    return w.wrg[0] * dr * dr + w.wrg[1] * dg * dg + w.wb * db * db;
}

// Index weights on the first endpoint for 4 texels at a time, by the byte
// of indices that covers them: [mode][byte] (mode 0: 4 colours, 1: 3).
struct IndexWeights {
    alignas(16) float row[2][256][4];
};

inline const IndexWeights& GetIndexWeights()
{
    static const IndexWeights table = [] {
        static const float kFour[4] = {1.0f, 0.0f, 2.0f / 3.0f, 1.0f / 3.0f};
        static const float kThree[4] = {1.0f, 0.0f, 0.5f, 0.0f};
        IndexWeights t{};
        for (int byte = 0; byte < 256; ++byte)
            for (int i = 0; i < 4; ++i) {
                t.row[0][byte][i] = kFour[byte >> (2 * i) & 3];
                t.row[1][byte][i] = kThree[byte >> (2 * i) & 3];
            }
        return t;
    }();
    return table;
}

// Each texel's weight on the first endpoint by its index: the 4-colour
// rule's (1, 0, 2/3, 1/3), or the 3-colour rule's (1, 0, 1/2, 0) where
// `three` is set.
DXT_INLINE void TexelWeights(std::uint32_t indices, bool three, float w[16])
{
    const auto& rows = GetIndexWeights().row[three ? 1 : 0];
    for (int g = 0; g < 4; ++g)
        std::memcpy(w + 4 * g, rows[indices >> (8 * g) & 0xFF], 4 * sizeof(float));
}

// b where a is not above it (NaN included), else a.
template <class F>
DXT_INLINE F Higher(F a, F b)
{
    return a > b ? a : b;
}

// The entries of p at the lanes' indices.
template <class F, class I>
DXT_INLINE F GatherLanes(const float* p, I at)
{
    F v;
    for (int l = 0; l < kLanesOf<F>; ++l)
        v[l] = p[at[l]];
    return v;
}

// The quantised code nearest each (whole) value, from the table.
DXT_INLINE std::int32_t NearestCode(const std::uint8_t* nearest, std::int32_t v) { return nearest[v]; }

#if defined(__x86_64__)

// ---------------------------------------------------------------------------
// x86 operations that vector types alone do not express: on four lanes
// (SSE2, every x86-64 processor) for the kernels, on eight for the AVX2
// build.

DXT_INLINE std::uint32_t HorizontalSum(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

DXT_INLINE std::uint32_t SumSquaresOfBytes(__m128i v)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
    return HorizontalSum(_mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
}

// 16 bytes holding 0..7 -> 3 bits each, byte 0 in the low bits.
DXT_INLINE std::uint64_t PackAlphaIndexBytes(__m128i index)
{
    alignas(16) std::uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), index);
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= static_cast<std::uint64_t>(bytes[i]) << (3 * i);
    return bits;
}

DXT_INLINE bool Any(I8 m) { return !_mm256_testz_si256((__m256i)(m), (__m256i)(m)); }

// The max and min instructions (the same values as a > b ? a : b and
// a < b ? a : b, which the compiler does not always turn into them), and
// rounding towards minus infinity in one instruction.
DXT_INLINE F8 Higher(F8 a, F8 b) { return _mm256_max_ps(a, b); }
DXT_INLINE F8 Lower(F8 a, F8 b) { return _mm256_min_ps(a, b); }
DXT_INLINE F8 RoundDown(F8 v) { return _mm256_round_ps(v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }

template <class F>
DXT_INLINE F8 GatherLanes(const float* p, I8 at)
{
    return _mm256_i32gather_ps(p, (__m256i)at, 4);
}

// Lane l of the result is v[at[l] & 7].
DXT_INLINE F8 PermuteLanes(F8 v, I8 at) { return _mm256_permutevar8x32_ps(v, (__m256i)at); }

// A word from each entry, the low byte its own (see Tables::nearestTail).
DXT_INLINE I8 NearestCode(const std::uint8_t* nearest, I8 v)
{
    return (I8)(_mm256_i32gather_epi32(reinterpret_cast<const int*>(nearest), (__m256i)(v), 1)) &
           255;
}

DXT_INLINE void TexelWeights(I8 indices, I8 three, F8 w[16])
{
    const F8 table = {1.0f, 0.0f, 2.0f / 3.0f, 1.0f / 3.0f, 1.0f, 0.0f, 0.5f, 0.0f};
    const I8 mode = three & 4;
    for (int t = 0; t < 16; ++t)
        w[t] = _mm256_permutevar8x32_ps(table, (__m256i)(((indices >> (2 * t)) & 3) + mode));
}

DXT_INLINE I4 PairDistance(I4 rg, I4 bz, I4 prg, I4 pbz, const ColourSet& w, bool weighted)
{
    const __m128i d1 = _mm_sub_epi16((__m128i)rg, (__m128i)prg);
    const __m128i d2 = _mm_sub_epi16((__m128i)bz, (__m128i)pbz);
    if (!weighted)
        return (I4)_mm_add_epi32(_mm_madd_epi16(d1, d1), _mm_madd_epi16(d2, d2));
    const __m128i wrg = _mm_set1_epi32(static_cast<std::uint16_t>(w.wrg[0]) | (w.wrg[1] << 16));
    const __m128i wb = _mm_set1_epi32(w.wb);
    return (I4)_mm_add_epi32(_mm_madd_epi16(_mm_mullo_epi16(d1, wrg), d1), _mm_madd_epi16(_mm_mullo_epi16(d2, wb), d2));
}

DXT_INLINE I8 PairDistance(I8 rg, I8 bz, I8 prg, I8 pbz, const ColourSet& w, bool weighted)
{
    const __m256i d1 = _mm256_sub_epi16((__m256i)(rg), (__m256i)(prg));
    const __m256i d2 = _mm256_sub_epi16((__m256i)(bz), (__m256i)(pbz));
    if (!weighted)
        return (I8)(_mm256_add_epi32(_mm256_madd_epi16(d1, d1), _mm256_madd_epi16(d2, d2)));
    const __m256i wrg = _mm256_set1_epi32(static_cast<std::uint16_t>(w.wrg[0]) | (w.wrg[1] << 16));
    const __m256i wb = _mm256_set1_epi32(w.wb);
    return (I8)(_mm256_add_epi32(_mm256_madd_epi16(_mm256_mullo_epi16(d1, wrg), d1),
                                            _mm256_madd_epi16(_mm256_mullo_epi16(d2, wb), d2)));
}

#endif

} // namespace

} // namespace dxt::detail
