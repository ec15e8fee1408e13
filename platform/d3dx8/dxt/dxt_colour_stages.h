// The colour encoder's stages, each written once over lanes (dxt_lanes.h):
// one block is the float instance, eight blocks side by side the F8 one.
// The principal axis gives two endpoints, which are quantised to the grid
// and ordered for a mode; a candidate is measured by its decoded error, and
// refitted by least squares to the indices it chose while that helps.
//
// `kWhole`: every texel counts (no masks to apply).
#pragma once

#include "platform/d3dx8/dxt/dxt_lanes.h"

#include <array>
#include <climits>
#include <cstring>
#include <type_traits>

namespace dxt::detail {

namespace {

// Bit i of a 16-bit mask to both bits of the 2-bit slot i of a word of
// indices.
inline std::uint32_t SpreadToSlots(std::uint32_t v)
{
    v = (v | v << 8) & 0x00FF00FFu;
    v = (v | v << 4) & 0x0F0F0F0Fu;
    v = (v | v << 2) & 0x33333333u;
    v = (v | v << 1) & 0x55555555u;
    return v * 3;
}

// The blocks' texels as the stages read them.  Filled by the encoder; the
// kernel's part per lane type below.
template <class F>
struct KernelTexels;

// One block: the kernels' layout and the path's kernels.
template <>
struct KernelTexels<float> {
    ColourSet set;
    const Kernels* kernels;
};

// Eight blocks: texel t of each block in lane t's pairs; the weights shared.
template <>
struct KernelTexels<F8> {
    I8 rg[16], bz[16];
    const ColourSet* weights;
};

template <class F>
struct TexelLanes {
    // All 16 texels by channel, those that do not count as zero, and a 1/0
    // flag per texel (one block only: eight are whole).
    alignas(32) F x[3][16];
    alignas(32) F on[16];
    F xsum[3];
    F count, invCount;  // texels that count, and 1 / that
    bool dxt1;
    bool weighted;      // channel weights not all equal
    float scale[3];     // square roots of the channel weights (1 unweighted)
    KernelTexels<F> kernel;
};

// Endpoints, mode, indices and error of a candidate in each lane.  Lanes
// are filled by the stages that make them (and left unset otherwise, as
// clearing them costs the eight-lane stages time).
template <class F>
struct Candidates {
    IntOf<F> c0, c1;
    MaskOf<F> four;
    // A refit has been tried and left it as it is; another would too.
    MaskOf<F> settled;
    ErrorOf<F> indices, error;
};

// One block's starts as no candidate: above every real error.
template <>
struct Candidates<float> {
    std::int32_t c0 = 0, c1 = 0;
    bool four = true;
    bool settled = false;
    std::uint32_t indices = 0, error = UINT32_MAX;
};

// `a` where `take` is set, else `b`.
template <class F>
DXT_INLINE Candidates<F> Pick(MaskOf<F> take, const Candidates<F>& a, const Candidates<F>& b)
{
    Candidates<F> c;
    c.c0 = take ? a.c0 : b.c0;
    c.c1 = take ? a.c1 : b.c1;
    c.four = take ? a.four : b.four;
    c.settled = take ? a.settled : b.settled;
    c.indices = take ? a.indices : b.indices;
    c.error = take ? a.error : b.error;
    return c;
}

// 2^-e for the power of two 2^e at or below v (v > 0 and below 2^127):
// scaling by it is exact and needs no division.
DXT_INLINE float InversePowerOfTwo(float v)
{
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits = (254u - (bits >> 23)) << 23;
    float inv;
    std::memcpy(&inv, &bits, sizeof inv);
    return inv;
}
DXT_INLINE F8 InversePowerOfTwo(F8 v) { return FloatOfBits((254 - (BitsOf(v) >> 23)) << 23); }

// Four power steps on the covariance (upper triangle by rows) from axis:
// squaring the matrix twice makes them out of two.
template <class F>
DXT_INLINE void PowerSteps(F cov[6], F axis[3])
{
    for (int it = 0; it < 2; ++it) {
        const F c[6] = {cov[0] * cov[0] + cov[1] * cov[1] + cov[2] * cov[2],
                        cov[0] * cov[1] + cov[1] * cov[3] + cov[2] * cov[4],
                        cov[0] * cov[2] + cov[1] * cov[4] + cov[2] * cov[5],
                        cov[1] * cov[1] + cov[3] * cov[3] + cov[4] * cov[4],
                        cov[1] * cov[2] + cov[3] * cov[4] + cov[4] * cov[5],
                        cov[2] * cov[2] + cov[4] * cov[4] + cov[5] * cov[5]};
        for (int e = 0; e < 6; ++e)
            cov[e] = c[e];
    }
    for (int it = 0; it < 2; ++it) {
        const F v[3] = {cov[0] * axis[0] + cov[1] * axis[1] + cov[2] * axis[2],
                        cov[1] * axis[0] + cov[3] * axis[1] + cov[4] * axis[2],
                        cov[2] * axis[0] + cov[4] * axis[1] + cov[5] * axis[2]};
        for (int ch = 0; ch < 3; ++ch)
            axis[ch] = v[ch];
    }
}

// Power iteration on the weighted covariance; the endpoints are the extreme
// projections onto the principal axis.  `proj` gets the texels'
// projections less the mean's (+inf for texels that do not count, so that
// they sort last), `projSum` the same with zero for those texels.
template <class F, bool kWhole>
inline void Principal(const TexelLanes<F>& tx, F endA[3], F endB[3], F proj[16], F projSum[16])
{
    static constexpr int kPair[6][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
    // Sums of whole numbers below 2^24 (exact), centred once at the end;
    // texels that do not count are zero and add nothing.
    const F invN = tx.invCount;
    F mean[3];
    for (int ch = 0; ch < 3; ++ch)
        mean[ch] = tx.xsum[ch] * invN;
    F cov[6];
    for (int e = 0; e < 6; ++e) {
        const int a = kPair[e][0], b = kPair[e][1];
        const F prod = Sum16<F>([&](int t) { return tx.x[a][t] * tx.x[b][t]; });
        cov[e] = prod - tx.xsum[a] * tx.xsum[b] * invN;
        // Unit scales change nothing; skipping them shortens the chain.
        if (tx.weighted)
            cov[e] = cov[e] * Splat<F>(tx.scale[a]) * Splat<F>(tx.scale[b]);
    }
    // Scaled once by the power of two at or below the trace (exactly): the
    // eigenvalues are then at most 2 and the largest at least a sixth, so
    // the powers below neither overflow nor underflow, and need no rescaling
    // on the way (which would lengthen the chain the block waits on).
    const F trace = cov[0] + cov[3] + cov[5];
    const F inv = trace > Splat<F>(0.0f) ? InversePowerOfTwo(trace) : Splat<F>(1.0f);
    for (int e = 0; e < 6; ++e)
        cov[e] *= inv;
    // Start from the row of the largest diagonal term: never orthogonal to
    // the principal axis unless the covariance is degenerate.  Picked by
    // selects: which row wins is data.
    const MaskOf<F> row0 = cov[0] >= cov[3] && cov[0] >= cov[5], row1 = !row0 && cov[3] >= cov[5];
    F axis[3] = {row0 ? cov[0] : row1 ? cov[1] : cov[2], row0 ? cov[1] : row1 ? cov[3] : cov[4],
                 row0 ? cov[2] : row1 ? cov[4] : cov[5]};
    PowerSteps(cov, axis);
    F len2 = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
    const MaskOf<F> flat = !(len2 > Splat<F>(0.0f));
    for (int ch = 0; ch < 3; ++ch)
        axis[ch] = flat ? Splat<F>(1.0f) : axis[ch];
    len2 = flat ? Splat<F>(3.0f) : len2;
    // Back from the weighted space: the direction in plain colour units, and
    // the axis the projections are taken on.
    F dir[3], along[3];
    for (int ch = 0; ch < 3; ++ch) {
        dir[ch] = tx.weighted ? axis[ch] / Splat<F>(tx.scale[ch]) : axis[ch];
        along[ch] = tx.weighted ? axis[ch] * Splat<F>(tx.scale[ch]) : axis[ch];
    }
    // The extremes of the texels that count, and of zero.
    F low[16], high[16];
    for (int t = 0; t < 16; ++t) {
        F v{};
        for (int ch = 0; ch < 3; ++ch)
            v += (tx.x[ch][t] - mean[ch]) * along[ch];
        const F zero{};
        if constexpr (kWhole) {
            low[t] = v < zero ? v : zero;
            high[t] = v > zero ? v : zero;
            proj[t] = projSum[t] = v;
        } else {
            const MaskOf<F> on = tx.on[t] > zero;
            low[t] = (on && v < zero) ? v : zero;
            high[t] = (on && v > zero) ? v : zero;
            projSum[t] = on ? v : zero;
            proj[t] = on ? v : Splat<F>(__builtin_inff());
        }
    }
    F lo, hi;
    Extremes16(low, high, lo, hi);
    const F invLen2 = Splat<F>(1.0f) / len2;
    for (int ch = 0; ch < 3; ++ch) {
        endA[ch] = mean[ch] + hi * invLen2 * dir[ch];
        endB[ch] = mean[ch] + lo * invLen2 * dir[ch];
    }
}

// The 5:6:5 codes nearest the endpoint: each channel clamped, rounded and
// looked up.
template <class F>
DXT_INLINE IntOf<F> Quantise(const F c[3], const Tables& tables)
{
    IntOf<F> code[3];
    for (int ch = 0; ch < 3; ++ch) {
        const F clamped = c[ch] < Splat<F>(0.0f) ? Splat<F>(0.0f) : Splat<F>(255.0f) < c[ch] ? Splat<F>(255.0f) : c[ch];
        code[ch] = NearestCode(tables.nearest[ch == 1 ? 1 : 0], ToInt(clamped + Splat<F>(0.5f)));
    }
    return (code[0] << 11) | (code[1] << 5) | code[2];
}

// Orders the endpoints for the asked mode; Measure then takes the decoded
// result.  Equal endpoints in DXT1 read as the 3-colour mode, so they are
// measured as such.
template <class F>
DXT_INLINE Candidates<F> Order(IntOf<F> c0, IntOf<F> c1, MaskOf<F> four, bool dxt1)
{
    const MaskOf<F> swap = four ? c0 < c1 : c0 > c1;
    Candidates<F> c;
    c.c0 = swap ? c1 : c0;
    c.c1 = swap ? c0 : c1;
    c.four = dxt1 ? (four && c.c0 != c.c1) : four;
    c.settled = AllLanes<F>(false);
    return c;
}

// The nearest of the palette entries (prg, pbz, as pairs) to the texels
// (rg, bz) in each lane, the lowest index on ties, and its weighted squared
// distance; entry 3 only where `four`.  The lanes are blocks here, and
// texels in the kernels of one block.
template <class I, class M>
DXT_INLINE void NearestEntry(I rg, I bz, const I prg[4], const I pbz[4], M four, const ColourSet& weights,
                             bool weighted, I& best, I& index)
{
    const I none = Splat<I>(INT_MAX);
    best = none;
    index = I{};
    for (int e = 0; e < 4; ++e) {
        // Entry 3 loses where it does not exist: one mode for all lanes
        // skips it, lanes of both modes take `none` for it.
        if constexpr (std::is_same_v<M, bool>)
            if (e == 3 && !four)
                break;
        I d = PairDistance(rg, bz, prg[e], pbz[e], weights, weighted);
        if constexpr (!std::is_same_v<M, bool>)
            if (e == 3)
                d = four ? d : none;
        const auto less = d < best;
        best = less ? d : best;
        index = less ? Splat<I>(e) : index;
    }
}

// The palette of the endpoints in each lane as pairs for NearestEntry.
template <class I, class M>
DXT_INLINE void PalettePairs(I c0, I c1, M four, I prg[4], I pbz[4])
{
    I entry[4][3];
    ColourEntries(c0, c1, four, entry);
    for (int e = 0; e < 4; ++e) {
        prg[e] = entry[e][0] | (entry[e][1] << 16);
        pbz[e] = entry[e][2];
    }
}

// The colour kernel over lanes of blocks: for the endpoints and the palette
// ColourPalette gives for them (four entries, or three where `four` is
// clear), each texel's nearest entry (the lowest index on ties), packed 2
// bits per texel, and the summed weighted squared error (of the texels
// whose mask is set, where `mask` is given).
template <class I, class M>
DXT_INLINE void EvaluateColour(const I rg[16], const I bz[16], const std::int32_t* mask, I c0, I c1, M four,
                               const ColourSet& weights, I& error, I& indices)
{
    I prg[4], pbz[4];
    PalettePairs(c0, c1, four, prg, pbz);
    I total{}, packed{};
    for (int t = 0; t < 16; ++t) {
        I best, index;
        NearestEntry(rg[t], bz[t], prg, pbz, four, weights, weights.weighted, best, index);
        if (mask)
            best &= mask[t];
        total += best;
        packed |= index << (2 * t);
    }
    error = total;
    indices = packed;
}

DXT_INLINE void Measure(const TexelLanes<float>& tx, Candidates<float>& c)
{
    c.error = tx.kernel.kernels->colour(tx.kernel.set, static_cast<std::uint16_t>(c.c0),
                                        static_cast<std::uint16_t>(c.c1), c.four || !tx.dxt1, &c.indices);
}

#if defined(__x86_64__)
// Out of line: the eight-lane kernel is large, and the stages call it from
// several places.
__attribute__((noinline)) inline void Measure(const TexelLanes<F8>& tx, Candidates<F8>& c)
{
    EvaluateColour(tx.kernel.rg, tx.kernel.bz, nullptr, c.c0, c.c1, tx.dxt1 ? c.four : AllLanes<F8>(true),
                   *tx.kernel.weights, c.error, c.indices);
}
#endif

// The codes either side of each channel's least-squares endpoint that
// fit it best, over channel lanes C: one block's three channels side by
// side (F4, the fourth lane unused), or one channel of eight blocks (F8).
// `bits6` marks the 6-bit (green) lanes.
template <class C>
DXT_INLINE void FitChannels(C ax, C xsum, C a2, C b2, C ab, C inv, MaskOf<C> bits6, IntOf<C>& codeA, IntOf<C>& codeB)
{
    using I = IntOf<C>;
    const C bx = xsum - ax;
    const C a = (ax * b2 - bx * ab) * inv;
    const C b = (bx * a2 - ax * ab) * inv;
    // The rounded least-squares point is not always the best grid point for
    // these indices: the error is a quadratic per channel, so compare the
    // grid values on either side of each endpoint.
    //
    // Grid values are whole numbers, so the code below v is the one below
    // its whole part W: the highest c with floor(33 c / 4) <= W (5 bits),
    // that is 33 c <= 4 W + 3, or floor(65 c / 16) <= W (6 bits),
    // 65 c <= 16 W + 15.  The divisions by 33 and 65 are multiplies by
    // 7944 / 2^18 and 4033 / 2^18, exact for every W up to 255 (the products
    // stay below 2^24, so in floats too).
    constexpr float kScale = 1.0f / (1 << 18);
    const C scale = bits6 ? Splat<C>(16.0f) : Splat<C>(4.0f), offset = bits6 ? Splat<C>(15.0f) : Splat<C>(3.0f);
    const C reciprocal = bits6 ? Splat<C>(4033 * kScale) : Splat<C>(7944 * kScale);
    const I top = bits6 ? SplatInt<C>(63) : SplatInt<C>(31);
    // c << 3 | c >> 2 and c << 2 | c >> 4 are c * 132 / 16 and c * 65 / 16
    // rounded down.
    const I widen = bits6 ? SplatInt<C>(65) : SplatInt<C>(132);
    auto bracket = [&](C v, I out[2]) {
        // Written so that a NaN clamps to zero as well.
        const C clamped = v > Splat<C>(0.0f) ? (v < Splat<C>(255.0f) ? v : Splat<C>(255.0f)) : Splat<C>(0.0f);
        const I low = ToInt((ToFloat(ToInt(clamped)) * scale + offset) * reciprocal);
        out[0] = low;
        out[1] = low + 1 > top ? top : low + 1;
        out[1] = v < Splat<C>(0.0f) ? low : out[1];
    };
    I ca[2], cb[2];
    bracket(a, ca);
    bracket(b, cb);
    auto expand = [&](I v) { return ToFloat((v * widen) >> 4); };
    const C qa[2] = {expand(ca[0]), expand(ca[1])}, qb[2] = {expand(cb[0]), expand(cb[1])};
    C e[2][2];
    for (int p = 0; p < 2; ++p)
        for (int q = 0; q < 2; ++q)
            e[p][q] = qa[p] * (qa[p] * a2 - Splat<C>(2.0f) * ax) + qb[q] * (qb[q] * b2 - Splat<C>(2.0f) * bx) +
                      Splat<C>(2.0f) * qa[p] * qb[q] * ab;
    // The lowest of the four, earlier ones first on ties.
    const MaskOf<C> lowQ = e[0][1] < e[0][0], highQ = e[1][1] < e[1][0];
    const C lowError = lowQ ? e[0][1] : e[0][0], highError = highQ ? e[1][1] : e[1][0];
    const MaskOf<C> useHigh = highError < lowError;
    const MaskOf<C> useQ = useHigh ? highQ : lowQ;
    codeA = useHigh ? ca[1] : ca[0];
    codeB = useQ ? cb[1] : cb[0];
}

// Least-squares endpoints for the candidate's indices, each rounded to the
// better of the grid points around it; the mask is clear where the fit has
// no solution.  Channels are independent once the indices are fixed, so
// the weights play no part.
template <class F, bool kWhole>
inline MaskOf<F> FitToIndices(const TexelLanes<F>& tx, const Candidates<F>& c, IntOf<F>& end0, IntOf<F>& end1)
{
    // Each texel's weight on the first endpoint, zero for texels that do
    // not count; then the sums over the 16 texels.
    F w[16];
    TexelWeights(c.indices, tx.dxt1 ? !c.four : AllLanes<F>(false), w);
    if constexpr (!kWhole)
        for (int t = 0; t < 16; ++t)
            w[t] *= tx.on[t];
    const F a2 = Sum16<F>([&](int t) { return w[t] * w[t]; });
    F sumA, ax[3];
    if constexpr (kLanesOf<F> == 1) {
        // The three channels' sums and the weights' at once.
        float wx[3][16];
        for (int t = 0; t < 16; ++t)
            for (int ch = 0; ch < 3; ++ch)
                wx[ch][t] = w[t] * tx.x[ch][t];
        const F4 totals = Sum16x4(wx[0], wx[1], wx[2], w);
        sumA = totals[3];
        for (int ch = 0; ch < 3; ++ch)
            ax[ch] = totals[ch];
    } else {
        sumA = Sum16<F>([&](int t) { return w[t]; });
        for (int ch = 0; ch < 3; ++ch)
            ax[ch] = Sum16<F>([&](int t) { return w[t] * tx.x[ch][t]; });
    }
    const F ab = sumA - a2, b2 = tx.count - Splat<F>(2.0f) * sumA + a2;
    const F det = a2 * b2 - ab * ab;
    const MaskOf<F> ok = Abs(det) > Splat<F>(1e-6f);
    if (!Any(ok)) {
        end0 = end1 = IntOf<F>{};
        return ok;
    }
    const F inv = Splat<F>(1.0f) / det;
    if constexpr (kLanesOf<F> == 1) {
        // The three channels side by side.
        I4 codeA, codeB;
        FitChannels<F4>(F4{ax[0], ax[1], ax[2], 0.0f}, F4{tx.xsum[0], tx.xsum[1], tx.xsum[2], 0.0f}, Splat<F4>(a2),
                        Splat<F4>(b2), Splat<F4>(ab), Splat<F4>(inv), I4{0, -1, 0, 0}, codeA, codeB);
        end0 = (codeA[0] << 11) | (codeA[1] << 5) | codeA[2];
        end1 = (codeB[0] << 11) | (codeB[1] << 5) | codeB[2];
    } else {
        IntOf<F> code[2][3];
        for (int ch = 0; ch < 3; ++ch)
            FitChannels<F>(ax[ch], tx.xsum[ch], a2, b2, ab, inv, AllLanes<F>(ch == 1), code[0][ch], code[1][ch]);
        end0 = (code[0][0] << 11) | (code[0][1] << 5) | code[0][2];
        end1 = (code[1][0] << 11) | (code[1][1] << 5) | code[1][2];
    }
    return ok;
}

// One round of the refit for up to two candidates, where `live`.  A
// candidate stops (and is settled) where its endpoints stay put or its
// error does not fall.  One block's two candidates go side by side: their
// fits and measures do not depend on each other, so the processor overlaps
// them.  Eight blocks' vectors already fill it, and go one after the other.
template <class F, bool kWhole>
inline void RefineRound(const TexelLanes<F>& tx, Candidates<F> c[], MaskOf<F> live[], int count)
{
    using M = MaskOf<F>;
    // Written by the fit of each candidate with a live lane, and read only
    // after it.
    IntOf<F> ends[2][2];
    Candidates<F> next[2];
    auto fit = [&](int k) {
        const M tried = live[k];
        live[k] = live[k] && c[k].error != ErrorOf<F>{};
        if (Any(live[k])) {
            const M ok = FitToIndices<F, kWhole>(tx, c[k], ends[k][0], ends[k][1]);
            // The same endpoints (in either order) give the same block.
            live[k] = live[k] && ok &&
                      !((ends[k][0] == c[k].c0 && ends[k][1] == c[k].c1) ||
                        (ends[k][0] == c[k].c1 && ends[k][1] == c[k].c0));
        }
        c[k].settled = c[k].settled || (tried && !live[k]);
    };
    auto measure = [&](int k) {
        if (Any(live[k])) {
            next[k] = Order<F>(ends[k][0], ends[k][1], c[k].four, tx.dxt1);
            Measure(tx, next[k]);
        }
    };
    auto take = [&](int k) {
        const M tried = live[k];
        if (Any(live[k])) {
            live[k] = live[k] && next[k].error < c[k].error;
            // A better candidate replaces it (not yet refitted); otherwise
            // the refit was tried and left it.
            c[k] = Pick(live[k], next[k], c[k]);
        }
        c[k].settled = c[k].settled || (tried && !live[k]);
    };
    if constexpr (kLanesOf<F> == 1) {
        for (int k = 0; k < count; ++k)
            fit(k);
        for (int k = 0; k < count; ++k)
            measure(k);
        for (int k = 0; k < count; ++k)
            take(k);
    } else {
        for (int k = 0; k < count; ++k) {
            fit(k);
            measure(k);
            take(k);
        }
    }
}

// Where the axis candidates and their refit leave the blocks.
template <class F>
struct AxisResult {
    Candidates<F> best;
    bool triedThree;             // DXT1's 3-colour candidate was tried...
    ErrorOf<F> threeError;       // ...and came to this error
    MaskOf<F> goOn;              // the block goes on to the cluster fits
};

// The texels of one block in a stable order along the axis: order[k] is
// the texel in place k.  Each texel's place is the number of texels before
// it: texel j comes before texel i when t_j < t_i, or t_j == t_i and j < i.
// Counting without branches, one broadcast of texel j against all sixteen
// at a time, beats a comparison sort, whose branches the processor cannot
// predict.  Texels that do not count project to +inf and take the places
// past the others.  V is the widest float vector at hand (four or eight).
template <class V>
inline void StableOrder(const float proj[16], int order[16])
{
    using RankI = IntOf<V>;
    constexpr int kWidth = sizeof(V) / sizeof(float), kGroups = 16 / kWidth;
    static const auto kAfter = [] {
        std::array<std::array<RankI, kGroups>, 16> after{};
        for (int j = 0; j < 16; ++j)
            for (int i = 0; i < 16; ++i)
                after[j][i / kWidth][i % kWidth] = i > j ? -1 : 0;
        return after;
    }();
    // The projections as integers in the same order (-0 made +0, as the two
    // compare equal): then t_j <= t_i is key_j - 1 < key_i, and the tie rule
    // takes one comparison per texel.  Projections are finite or +inf, so no
    // key is the lowest integer; and integers are totally ordered, so the
    // places always form a permutation.
    alignas(32) std::int32_t keys[16];
    RankI key[kGroups];
    for (int g = 0; g < kGroups; ++g) {
        V t;
        std::memcpy(&t, proj + kWidth * g, sizeof t);
        t += V{};
        RankI bits;
        std::memcpy(&bits, &t, sizeof bits);
        key[g] = bits ^ ((bits >> 31) & 0x7FFFFFFF);
        std::memcpy(keys + kWidth * g, &key[g], sizeof key[g]);
    }
    RankI rank[kGroups] = {};
    for (int j = 0; j < 16; ++j) {
        const RankI kj = RankI{} + keys[j];
        for (int g = 0; g < kGroups; ++g)
            rank[g] += key[g] > kj + kAfter[j][g];
    }
    alignas(32) std::int32_t place[16];
    for (int g = 0; g < kGroups; ++g) {
        const RankI r = -rank[g];
        std::memcpy(place + kWidth * g, &r, sizeof r);
    }
    for (int i = 0; i < 16; ++i)
        order[place[i]] = i;
}

// The principal axis, the axis candidates (the 4-colour one first, then the
// 3-colour one: the earlier wins ties; both from the same endpoints on the
// grid) and their refit, as the plan has them; then whether the block goes
// on.  `threeOnly`: DXT1 transparent texels force the 3-colour mode.
// `quiet` is the plan's quiet bound for these blocks.
template <class F, bool kWhole>
inline AxisResult<F> AxisCandidates(const TexelLanes<F>& tx, const QualityPlan& plan, const Tables& tables,
                                    bool threeOnly, float quiet, F proj[16], F projSum[16])
{
    using M = MaskOf<F>;
    F endA[3], endB[3];
    Principal<F, kWhole>(tx, endA, endB, proj, projSum);
    const IntOf<F> a = Quantise(endA, tables), b = Quantise(endB, tables);
    AxisResult<F> out;
    out.triedThree = tx.dxt1 && (threeOnly || plan.threeColourAxis);
    Candidates<F> axis[2];
    int count = 0;
    if (!threeOnly)
        axis[count++] = Order<F>(a, b, AllLanes<F>(true), tx.dxt1);
    if (out.triedThree)
        axis[count++] = Order<F>(a, b, AllLanes<F>(false), tx.dxt1);
    for (int k = 0; k < count; ++k)
        Measure(tx, axis[k]);
    M live[2] = {AllLanes<F>(true), AllLanes<F>(count == 2)};
    // 4-colour-only blocks the axis misses by the quiet bound or more take
    // a refit of no rounds.  DXT1 refits both axis candidates side by side:
    // the 3-colour refit decides whether the 3-colour fit runs, and the
    // 4-colour one beside it costs little.
    if (plan.straightToFit && !tx.dxt1)
        live[0] = !(ToFloat(axis[0].error) >= Splat<F>(quiet));
    if (plan.threeAxisReach != 0 && count == 2)
        live[1] = !(ToFloat(axis[1].error) > Splat<F>(plan.threeAxisReach) * ToFloat(axis[0].error));
    for (int r = 0; r < plan.axisRounds && (Any(live[0]) || Any(live[1])); ++r)
        RefineRound<F, kWhole>(tx, axis, live, count);
    // Offered in turn: the first of equal errors stays.
    out.best = count == 2 ? Pick(axis[1].error < axis[0].error, axis[1], axis[0]) : axis[0];
    out.threeError = axis[count - 1].error;
    const M quietBlock = plan.quietError != 0 ? M(ToFloat(out.best.error) < Splat<F>(quiet)) : AllLanes<F>(false);
    out.goOn = AllLanes<F>(plan.fullSearch || plan.near) && out.best.error != ErrorOf<F>{} && !quietBlock;
    return out;
}

// A cluster fit's candidate in each lane where `found`: measured where
// `fresh` (new endpoints), then refitted once.
template <class F, bool kWhole>
inline Candidates<F> RefitFound(const TexelLanes<F>& tx, Candidates<F> c, MaskOf<F> fresh, MaskOf<F> found)
{
    if (Any(fresh)) {
        Candidates<F> measured = c;
        Measure(tx, measured);
        c.indices = fresh ? measured.indices : c.indices;
        c.error = fresh ? measured.error : c.error;
    }
    MaskOf<F> live = found && !c.settled;
    RefineRound<F, kWhole>(tx, &c, &live, 1);
    return c;
}

} // namespace

} // namespace dxt::detail
