// Alpha blocks: the explicit 4-bit form (DXT2/3) and the interpolated form
// (DXT4/5) with both of its modes.
#include "dxt_internal.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace dxt::detail {

void EncodeAlphaExplicit(const std::uint8_t rgba[64], std::uint16_t valid, std::uint8_t block[8])
{
    std::memset(block, 0, 8);
    for (int i = 0; i < 16; ++i) {
        if (!(valid >> i & 1))
            continue;
        // Nearest multiple of 17: the 4-bit value expands by replication.
        const int nibble = (rgba[4 * i + 3] + 8) / 17;
        block[i / 2] = static_cast<std::uint8_t>(block[i / 2] | (nibble << (4 * (i & 1))));
    }
}

namespace {

// Rounds num / den (den > 0) to the nearest whole number, halves up, and
// clamps it to 0..255.
int RoundedEndpoint(std::int64_t num, std::int64_t den)
{
    if (num <= 0)
        return 0;
    return static_cast<int>(std::min<std::int64_t>((2 * num + den) / (2 * den), 255));
}

struct AlphaSearch {
    alignas(16) std::uint8_t alpha[16];
    alignas(16) std::uint8_t mask[16];
    const Kernels& kernels;
    int bestA0 = 0, bestA1 = 0;
    std::uint32_t bestError = UINT32_MAX;

    void Keep(int a0, int a1, std::uint32_t e)
    {
        if (e < bestError) {
            bestError = e;
            bestA0 = a0;
            bestA1 = a1;
        }
    }

    std::uint32_t Measure(int a0, int a1, std::uint64_t* indices = nullptr)
    {
        const std::uint32_t e = kernels.alpha(alpha, mask, a0, a1, indices);
        Keep(a0, a1, e);
        return e;
    }

    // Least-squares endpoints for the indices the pair (a0, a1) gives,
    // rounded, while that lowers the error: moves the endpoints inside the
    // range of the texels, where the single steps below take too long to
    // go.  Leaves the best pair reached in (a0, a1) and returns its error;
    // a pair that starts above `limit` is measured and left as it is.
    std::uint32_t Refit(int& a0, int& a1, bool eightValue, int rounds, std::uint32_t limit)
    {
        if (rounds <= 0)
            return Measure(a0, a1);
        AlphaMoments m;
        std::uint32_t current = kernels.alphaFit(alpha, mask, a0, a1, m);
        Keep(a0, a1, current);
        if (current > limit)
            return current;
        // The moments count weights in units of 1/d, so the endpoints are
        // d times the usual solution over the determinant; all whole
        // numbers, so the fit is exact.
        const std::int64_t d = eightValue ? 7 : 5;
        for (int r = 0; r < rounds && current != 0; ++r) {
            const std::int64_t det = std::int64_t{m.ww} * m.vv - std::int64_t{m.wv} * m.wv;
            if (det <= 0)
                break;
            int n0 = RoundedEndpoint(d * (std::int64_t{m.wx} * m.vv - std::int64_t{m.vx} * m.wv), det);
            int n1 = RoundedEndpoint(d * (std::int64_t{m.vx} * m.ww - std::int64_t{m.wx} * m.wv), det);
            // Keep the mode: the 8-value one needs a0 > a1.
            if (eightValue && n0 <= n1) {
                if (n0 == n1 && n0 < 255)
                    ++n0;
                else if (n0 == n1)
                    --n1;
                else
                    std::swap(n0, n1);
            }
            if (!eightValue && n0 > n1)
                std::swap(n0, n1);
            if (n0 == a0 && n1 == a1)
                break;
            AlphaMoments next;
            const std::uint32_t e = kernels.alphaFit(alpha, mask, n0, n1, next);
            Keep(n0, n1, e);
            if (e >= current)
                break;
            current = e;
            a0 = n0;
            a1 = n1;
            m = next;
        }
        return current;
    }

    // Walks each endpoint by single steps while that lowers the error,
    // starting from (a0, a1) with error `current`.  The mode is kept: the
    // 8-value mode needs a0 > a1, the 6-value a0 <= a1.
    void Descend(int a0, int a1, std::uint32_t current, bool eightValue, int maxSteps)
    {
        static const int kMoves[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
        for (int step = 0; step < maxSteps && current != 0; ++step) {
            // The four neighbours at once; one off the grid or in the other
            // mode is replaced by the current pair, which cannot win.
            int ends[8];
            bool valid[4];
            for (int m = 0; m < 4; ++m) {
                const int n0 = a0 + kMoves[m][0], n1 = a1 + kMoves[m][1];
                valid[m] = n0 >= 0 && n0 <= 255 && n1 >= 0 && n1 <= 255 && (n0 > n1) == eightValue;
                ends[2 * m] = valid[m] ? n0 : a0;
                ends[2 * m + 1] = valid[m] ? n1 : a1;
            }
            std::uint32_t errors[4];
            kernels.alphaQuad(alpha, mask, ends, errors);
            int bestMove = -1;
            std::uint32_t bestMoveError = current;
            for (int m = 0; m < 4; ++m) {
                if (!valid[m])
                    continue;
                Keep(ends[2 * m], ends[2 * m + 1], errors[m]);
                if (errors[m] < bestMoveError) {
                    bestMoveError = errors[m];
                    bestMove = m;
                }
            }
            if (bestMove < 0)
                break;
            a0 += kMoves[bestMove][0];
            a1 += kMoves[bestMove][1];
            current = bestMoveError;
        }
    }

    // The refit, then the unit steps from where it ended; neither when the
    // start is above `limit`.
    void Improve(int a0, int a1, bool eightValue, int rounds, int steps, std::uint32_t limit = UINT32_MAX)
    {
        const std::uint32_t refitted = Refit(a0, a1, eightValue, rounds, limit);
        if (refitted <= limit)
            Descend(a0, a1, refitted, eightValue, steps);
    }

    // Every pair within `reach` of the best so far, four at a time.
    void Around(int reach)
    {
        const int a0 = bestA0, a1 = bestA1;
        int ends[8], pending = 0;
        auto flush = [&] {
            for (int q = pending; q < 4; ++q) {
                ends[2 * q] = ends[0];
                ends[2 * q + 1] = ends[1];
            }
            std::uint32_t errors[4];
            kernels.alphaQuad(alpha, mask, ends, errors);
            for (int q = 0; q < pending; ++q)
                Keep(ends[2 * q], ends[2 * q + 1], errors[q]);
            pending = 0;
        };
        for (int d0 = -reach; d0 <= reach; ++d0)
            for (int d1 = -reach; d1 <= reach; ++d1) {
                const int n0 = a0 + d0, n1 = a1 + d1;
                if (n0 < 0 || n0 > 255 || n1 < 0 || n1 > 255)
                    continue;
                ends[2 * pending] = n0;
                ends[2 * pending + 1] = n1;
                if (++pending == 4)
                    flush();
            }
        if (pending)
            flush();
    }
};

// The block's alphas (zero where a texel does not exist) and mask, and the
// range of the alphas that exist, and of those strictly between 0 and 255
// (255, 0 for an empty range).
struct AlphaRange {
    int lo = 255, hi = 0, innerLo = 255, innerHi = 0;
};

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

#if defined(__x86_64__)

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

#endif

// The block encoder built for each gather, so that the gather inlines.
template <AlphaRange (*kGather)(const std::uint8_t[64], std::uint16_t, std::uint8_t[16], std::uint8_t[16])>
void EncodeAlphaInterpolatedWith(const std::uint8_t rgba[64], std::uint16_t valid, Quality quality,
                                 const Kernels& kernels, std::uint8_t block[8])
{
    alignas(16) std::uint8_t alpha[16], mask[16];
    const AlphaRange range = kGather(rgba, valid, alpha, mask);
    const int lo = range.lo, hi = range.hi, innerLo = range.innerLo, innerHi = range.innerHi;
    if (lo >= hi) {
        // One value (or no texel at all), most blocks of opaque pictures:
        // the 6-value mode's first entry, and index 0 everywhere (the first
        // entry is that value, and the lowest index wins ties).
        block[0] = block[1] = static_cast<std::uint8_t>(lo > hi ? 0 : lo);
        std::memset(block + 2, 0, 6);
        return;
    }

    AlphaSearch search{{}, {}, kernels};
    std::memcpy(search.alpha, alpha, sizeof alpha);
    std::memcpy(search.mask, mask, sizeof mask);
    const QualityPlan& plan = PlanFor(quality);
    const int steps = plan.alphaSteps, rounds = plan.alphaRounds;
    search.Improve(hi, lo, true, rounds, steps);
    if (search.bestError != 0) {
        // The 6-value mode spends its endpoints on the texels between the
        // exact 0 and 255 entries.
        if (innerLo > innerHi) {
            search.Measure(0, 0);
        } else {
            // From further than the plan's reach off the 8-value mode's
            // best, the 6-value mode seldom wins.
            const std::uint64_t reach = std::uint64_t{plan.sixValueReach} * search.bestError;
            const std::uint32_t limit = plan.sixValueReach != 0
                                            ? static_cast<std::uint32_t>(std::min<std::uint64_t>(reach, UINT32_MAX))
                                            : UINT32_MAX;
            search.Improve(innerLo, innerHi, false, rounds, steps, limit);
        }
    }
    // A wider look around the extremes for both modes.
    if (plan.alphaReach != 0 && search.bestError != 0)
        search.Around(plan.alphaReach);

    std::uint64_t bits = 0;
    search.kernels.alpha(search.alpha, search.mask, search.bestA0, search.bestA1, &bits);
    // Texels that do not exist take index 0, whatever their stand-in value.
    if (valid != 0xFFFF)
        for (int i = 0; i < 16; ++i)
            if (!search.mask[i])
                bits &= ~(std::uint64_t{7} << (3 * i));
    block[0] = static_cast<std::uint8_t>(search.bestA0);
    block[1] = static_cast<std::uint8_t>(search.bestA1);
    for (int i = 0; i < 6; ++i)
        block[2 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

} // namespace

void EncodeAlphaInterpolated(const std::uint8_t rgba[64], std::uint16_t valid, Quality quality,
                             const Kernels& kernels, std::uint8_t block[8])
{
    kernels.alphaBlock(rgba, valid, quality, kernels, block);
}

void EncodeAlphaInterpolatedScalar(const std::uint8_t rgba[64], std::uint16_t valid, Quality quality,
                                   const Kernels& kernels, std::uint8_t block[8])
{
    EncodeAlphaInterpolatedWith<GatherAlphaScalar>(rgba, valid, quality, kernels, block);
}

#if defined(__x86_64__)
void EncodeAlphaInterpolatedSse2(const std::uint8_t rgba[64], std::uint16_t valid, Quality quality,
                                 const Kernels& kernels, std::uint8_t block[8])
{
    EncodeAlphaInterpolatedWith<GatherAlphaSse2>(rgba, valid, quality, kernels, block);
}
#endif

} // namespace dxt::detail
