// The split searches of the cluster fit (see dxt_cluster.cpp), written once
// over lanes (dxt_lanes.h): four splits at a time in the build for any
// processor, eight in the AVX2 build; each build (dxt_encoder_any.cpp,
// dxt_encoder_avx2.cpp) instantiates its width.
#pragma once

#include "platform/d3dx8/dxt/dxt_lanes.h"

#include <algorithm>
#include <type_traits>

namespace dxt::detail {

// For blocks of 16 texels the rough score needs no division.  With X = 3 ax
// and Y = 3 bx of the projections, the fit removes (X^2 b2 - 2 X Y ab +
// Y^2 a2) / (9 det) from their sum of squares.  The projections are
// centred, so Y = -X, and as a2 + 2 ab + b2 = n that is X^2 n / (9 det):
// one coefficient per split, tabled (without the constant n), NaN where
// the split has no two distinct endpoints (so that it never wins).  Rows
// are padded so that a vector load past the last split stays inside.
struct RoughRow {
    alignas(32) float r[24];
};

constexpr int kTableTexels = 16;

// Boundaries from -kRoughPad to 16 + kRoughPad have rows, those outside the
// block all NaN: Normal's boxes reach that far, and walk them by address
// without a test per row.
constexpr int kRoughPad = 4;
constexpr int kRoughRows = kTableTexels + 1 + 2 * kRoughPad;

struct RoughTable {
    RoughRow four[kRoughRows][kRoughRows];  // [i + pad][j + pad], lanes k
    RoughRow three[kRoughRows];             // [i + pad], lanes j
};

// The table, built once on first use.
const RoughTable& GetRoughTable();

namespace {

constexpr float kInvalid = 3.0e38f;

// 0, 1, 2, ... across the lanes.
template <class F>
DXT_INLINE F Ramp()
{
    if constexpr (kLanesOf<F> == 4)
        return F{0, 1, 2, 3};
    else
        return F{0, 1, 2, 3, 4, 5, 6, 7};
}

template <class F>
DXT_INLINE F Load(const float* p)
{
    F v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

DXT_INLINE float HorizontalMin(F4 v)
{
    v = v < __builtin_shufflevector(v, v, 2, 3, 0, 1) ? v : __builtin_shufflevector(v, v, 2, 3, 0, 1);
    v = v < __builtin_shufflevector(v, v, 1, 0, 3, 2) ? v : __builtin_shufflevector(v, v, 1, 0, 3, 2);
    return v[0];
}

DXT_INLINE float HorizontalMin(F8 v)
{
    const F4 lo = __builtin_shufflevector(v, v, 0, 1, 2, 3), hi = __builtin_shufflevector(v, v, 4, 5, 6, 7);
    return HorizontalMin(lo < hi ? lo : hi);
}

// Codes of the rounded search: whole numbers in float lanes in the AVX2
// build, which rounds in one instruction; integers otherwise.
template <class F, class I>
using Codes = std::conditional_t<kLanesOf<F> == 8, F, I>;

// Rounds endpoint values to the grid of a 5- or 6-bit channel; returns the
// codes and their 8-bit expansions.  Both builds give the same numbers: the
// values are finite, so the processor's max and min clamp as the selects
// do; they are positive there, so rounding down truncates; and the
// expansion (c << 3 | c >> 2 for 5 bits, c << 2 | c >> 4 for 6) is c * 33 / 4
// or c * 65 / 16 rounded down, exact in floats.
template <class F, class I>
DXT_INLINE void Quantise(F v, bool bits6, Codes<F, I>& code, F& expanded)
{
    const F zero = Splat<F>(0.0f), top = Splat<F>(255.0f);
    const F scale = Splat<F>(bits6 ? 63.0f / 255.0f : 31.0f / 255.0f), half = Splat<F>(0.5f);
    if constexpr (kLanesOf<F> == 8) {
        v = Lower(Higher(v, zero), top);
        code = RoundDown(v * scale + half);
        expanded = RoundDown(code * Splat<F>(bits6 ? 65.0f / 16.0f : 33.0f / 4.0f));
    } else {
        v = v < zero ? zero : v;
        v = v > top ? top : v;
        code = __builtin_convertvector(v * scale + half, I);
        const I e = bits6 ? (code << 2) | (code >> 4) : (code << 3) | (code >> 2);
        expanded = __builtin_convertvector(e, F);
    }
}

// The codes as integers.
template <class F, class I>
DXT_INLINE I CodeBits(Codes<F, I> code)
{
    if constexpr (kLanesOf<F> == 8)
        return __builtin_convertvector(code, I);
    else
        return code;
}

template <class F, class I>
struct Scored {
    F error;
    Codes<F, I> codeA[3], codeB[3];
};

// Scores the splits whose lane-varying boundary runs from `first` on, the
// other boundaries `fi` and `fj` per lane (4-colour: boundaries (i, j,
// lane); 3-colour: (i, lane)).  `head(p)` is the sum of the per-lane
// boundaries' entries of the prefix sums p: p[i] + p[j], or p[i] alone.
// Lanes where `valid` is clear, or past `last`, are marked invalid.
template <class F, class I, bool kRough, bool kUnit, class Head>
DXT_INLINE Scored<F, I> ScoreLanes(const ClusterInput& in, bool four, F fi, F fj, Head head, int first, int last,
                                   I valid)
{
    const F lane = Ramp<F>() + static_cast<float>(first);
    const float n = static_cast<float>(in.n);
    F a2, b2, ab;
    if (four) {
        a2 = (Splat<F>(5.0f) * fi + Splat<F>(3.0f) * fj + lane) * Splat<F>(1.0f / 9.0f);
        b2 = Splat<F>(n) - (fi + Splat<F>(3.0f) * fj + lane * Splat<F>(5.0f)) * Splat<F>(1.0f / 9.0f);
        ab = (lane - fi) * Splat<F>(2.0f / 9.0f);
    } else {
        a2 = (Splat<F>(3.0f) * fi + lane) * Splat<F>(0.25f);
        b2 = Splat<F>(n) - (fi + lane * Splat<F>(3.0f)) * Splat<F>(0.25f);
        ab = (lane - fi) * Splat<F>(0.25f);
    }
    const F det = a2 * b2 - ab * ab;
    valid &= (det > Splat<F>(1e-3f)) & (lane <= Splat<F>(static_cast<float>(last)));
    const F inv = valid ? Splat<F>(1.0f) / det : Splat<F>(0.0f);

    Scored<F, I> s;
    F error = Splat<F>(0.0f);
    // The rough mode fits the projections onto the axis, one "channel".
    for (int ch = 0; ch < (kRough ? 1 : 3); ++ch) {
        const float* p = kRough ? in.axis : in.prefix[ch];
        F ax;
        if (four)
            ax = (head(p) + Load<F>(p + first)) * Splat<F>(1.0f / 3.0f);
        else
            ax = (head(p) + Load<F>(p + first)) * Splat<F>(0.5f);
        const F bx = Splat<F>(p[in.n]) - ax;
        if constexpr (kRough) {
            // The least-squares fit removes (ax^2 b2 - 2 ax bx ab + bx^2 a2) / det
            // from the sum of squares; the division waits for the end.
            error = ax * ax * b2 + bx * (bx * a2 - Splat<F>(2.0f) * ax * ab);
            for (int c = 0; c < 3; ++c)
                s.codeA[c] = s.codeB[c] = Codes<F, I>{};
            break;
        }
        F qa, qb;
        Quantise<F, I>((ax * b2 - bx * ab) * inv, ch == 1, s.codeA[ch], qa);
        Quantise<F, I>((bx * a2 - ax * ab) * inv, ch == 1, s.codeB[ch], qb);
        const F e = qa * qa * a2 + qb * qb * b2 + Splat<F>(2.0f) * (qa * qb * ab - qa * ax - qb * bx);
        error = error + (kUnit ? e : Splat<F>(in.weight[ch]) * e);
    }
    if constexpr (kRough)
        error = Splat<F>(0.0f) - error * inv;
    s.error = valid ? error : Splat<F>(kInvalid);
    return s;
}

// The same with the boundaries i and j shared by all lanes.
template <class F, class I, bool kRough, bool kUnit>
DXT_INLINE Scored<F, I> ScoreLanes(const ClusterInput& in, bool four, int i, int j, int first, int last)
{
    auto head = [&](const float* p) { return Splat<F>(four ? p[i] + p[j] : p[i]); };
    return ScoreLanes<F, I, kRough, kUnit>(in, four, Splat<F>(static_cast<float>(i)), Splat<F>(static_cast<float>(j)),
                                           head, first, last, Splat<I>(-1));
}

// A split as one number that orders splits as (i, j, k) does: boundaries
// are at most 16 (k up to 23 in lanes past the last split).
constexpr int SplitKey(int i, int j, int k) { return i << 16 | j << 8 | k; }

// Merges the lanes' bests: the lowest error, the first split among equals.
template <class F, class I>
DXT_INLINE ClusterResult Merge(const F& bestError, const I& bestKey, const I* bestEnds, bool four)
{
    // Without branches: which lane wins depends on the data, and a
    // mispredicted branch per lane costs more than the vector work.
    ClusterResult best;
    const float lowest = HorizontalMin(bestError);
    best.error = kInvalid;
    if (!(lowest < kInvalid))
        return best;
    best.error = lowest;
    const I tied = bestError == Splat<F>(lowest);
    unsigned tiedLanes = 0;
    for (int l = 0; l < kLanesOf<F>; ++l)
        tiedLanes |= static_cast<unsigned>(tied[l] & 1) << l;
    int pick = __builtin_ctz(tiedLanes);
    if (tiedLanes & (tiedLanes - 1)) {
        // Rarely more than one lane: the first split among them.  Keys are
        // below 2^21, exact as floats; lanes not tied get 2^24 - 1.
        const I tiedKey = tied ? bestKey : I{} + 0xFFFFFF;
        const float first = HorizontalMin(__builtin_convertvector(tiedKey, F));
        const I at = __builtin_convertvector(tiedKey, F) == Splat<F>(first);
        for (int l = kLanesOf<F> - 1; l >= 0; --l)
            pick = at[l] ? l : pick;
    }
    const int key = bestKey[pick];
    best.split[0] = key >> 16;
    best.split[2] = key & 0xFF;
    best.split[1] = four ? (key >> 8 & 0xFF) : best.split[2];
    // The rough walk has no endpoints.
    best.ends[0] = bestEnds ? static_cast<std::uint16_t>(bestEnds[0][pick]) : 0;
    best.ends[1] = bestEnds ? static_cast<std::uint16_t>(bestEnds[1][pick]) : 0;
    return best;
}

// The best split each lane has seen, with its codes.
template <class F, class I, bool kRough>
struct LaneBest {
    F error;  // set by Start
    I key{};
    // Codes per channel in variables of their own rather than arrays, which
    // the compiler would clear with a slow string instruction.
    Codes<F, I> a0{}, a1{}, a2{}, b0{}, b1{}, b2{};

    DXT_INLINE void Start() { error = Splat<F>(kInvalid); }

    // kOrdered: the splits reach each lane in (i, j, k) order, so that the
    // first of equal ones is the smallest and strictly better is enough.
    template <bool kOrdered>
    DXT_INLINE void Keep(const Scored<F, I>& s, I splitKey)
    {
        I better = s.error < error;
        if constexpr (!kOrdered)
            better |= (s.error == error) & (splitKey < key);
        error = better ? s.error : error;
        key = better ? splitKey : key;
        if constexpr (!kRough) {
            a0 = better ? s.codeA[0] : a0;
            a1 = better ? s.codeA[1] : a1;
            a2 = better ? s.codeA[2] : a2;
            b0 = better ? s.codeB[0] : b0;
            b1 = better ? s.codeB[1] : b1;
            b2 = better ? s.codeB[2] : b2;
        }
    }

    DXT_INLINE ClusterResult Result(bool four) const
    {
        if constexpr (kRough)
            return Merge<F, I>(error, key, nullptr, four);
        const I ends[2] = {(CodeBits<F, I>(a0) << 11) | (CodeBits<F, I>(a1) << 5) | CodeBits<F, I>(a2),
                           (CodeBits<F, I>(b0) << 11) | (CodeBits<F, I>(b1) << 5) | CodeBits<F, I>(b2)};
        return Merge<F, I>(error, key, ends, four);
    }
};

// What the rough walk over whole blocks leaves: for every vector of lanes
// (the lane-varying boundary `first` + t * lanes + lane), each lane's
// highest gain (the error less a constant shared by all splits, negated;
// below zero where no split of the box has that boundary) and its split.
template <class F, class I>
struct RoughLanes {
    static constexpr int kSteps = (kTableTexels + kLanesOf<F>) / kLanesOf<F>;
    F gain[kSteps];
    I key[kSteps];
    int steps = 0, first = 0, last = -1;
};

// The rough walk over whole blocks, from the table: the same ranking as
// the rough mode of ScoreLanes up to rounding (the projections' sum, zero
// but for rounding, is taken as zero), with everything that does not change
// along a row or a call taken out of the inner loop.  Every row
// starts at the same lane-varying boundary: the table holds NaN for
// boundaries below the row's own, which never win.  Each lane of each
// vector keeps the highest gain and the row it came from, the first row
// among equals.
template <class F, class I>
DXT_INLINE RoughLanes<F, I> WalkRoughTabled(const ClusterInput& in, const RoughTable& table, bool four,
                                            const int lo[3], const int hi[3])
{
    constexpr int kLanes = kLanesOf<F>;
    constexpr int kSteps = RoughLanes<F, I>::kSteps;
    constexpr int n = kTableTexels;
    RoughLanes<F, I> out;
    const I laneIndex = __builtin_convertvector(Ramp<F>(), I);
    const int varying = four ? 2 : 1;
    out.first = std::max(lo[varying], 0);
    out.last = std::min(hi[varying], n);
    if (out.first > out.last)
        return out;
    const int first = out.first, last = out.last;
    // Rows are at most n + 1 lanes: three vectors of eight, five of four.
    // Lanes past the last boundary project to NaN, so they never win.
    const int steps = (last - first) / kLanes + 1;
    out.steps = steps;
    F along[kSteps];
    for (int t = 0; t < kSteps; ++t) {
        along[t] = Splat<F>(__builtin_nanf(""));
        if (t < steps) {
            const I inRange = laneIndex <= I{} + (last - first - t * kLanes);
            along[t] = inRange ? Load<F>(in.axis + first + t * kLanes) : along[t];
        }
    }
    // Every row of the box is visited, those outside the splits through a
    // row of NaN: the loops then run the same number of times for every
    // block, and their branches are predicted.  Keys are the split's as a
    // sum, i * 2^16 + j * 2^8 + k, which steps along a row of the box.
    // Rows further out than the table's are NaN as well, so the box can be
    // cut to the table without changing the result; Normal's boxes lie
    // inside it.
    const int iLo = std::max(lo[0], -kRoughPad), iHi = std::min(hi[0], n + kRoughPad);
    const int jLo = std::max(lo[1], -kRoughPad), jHi = std::min(hi[1], n + kRoughPad);
    auto axisAt = [&](int b) { return in.axis[std::clamp(b, 0, n)]; };
    // The heads as vectors, once per walk: a vector addition per row then
    // takes the place of a scalar one and a broadcast.
    F headJ[kRoughRows];
    for (int j = jLo; j <= jHi; ++j)
        headJ[j - jLo] = Splat<F>(axisAt(j));
    // Built for one vector per row, the usual case, and for any number: a
    // fixed count keeps the bests in registers.
    auto walk = [&]<int kUsed>() {
        F gain[kUsed];
        I key[kUsed];
        for (int t = 0; t < kUsed; ++t) {
            gain[t] = Splat<F>(-kInvalid);
            key[t] = I{};
        }
        auto scoreRow = [&](const RoughRow& row, F h, I rowKey) {
            for (int t = 0; t < kUsed && t < steps; ++t) {
                const int k = first + t * kLanes;
                const F x = h + along[t];
                const F g = x * x * Load<F>(row.r + k);
                // The running best by a max, which the walk waits on less
                // than on a select.  AVX2 takes the comparison beside it;
                // four lanes, where the compiler would turn a max beside
                // the comparison into a select, take the comparison from
                // the max: the best moved exactly where g is above it (it is
                // never NaN, and a NaN g leaves it).
                I better;
                if constexpr (kLanes == 8) {
                    better = g > gain[t];
                    gain[t] = Higher(g, gain[t]);
                } else {
                    const F higher = Higher(g, gain[t]);
                    better = higher != gain[t];
                    gain[t] = higher;
                }
                key[t] = better ? rowKey + t * kLanes : key[t];
            }
        };
        for (int i = iLo; i <= iHi; ++i) {
            const F headI = Splat<F>(axisAt(i));
            if (!four) {
                scoreRow(table.three[i + kRoughPad], headI, Splat<I>(i * 65536 + first));
                continue;
            }
            const RoughRow* row = &table.four[i + kRoughPad][jLo + kRoughPad];
            I rowKey = Splat<I>(i * 65536 + jLo * 256 + first);
            for (int dj = 0; dj <= jHi - jLo; ++dj) {
                scoreRow(row[dj], headI + headJ[dj], rowKey);
                rowKey += 256;
            }
        }
        for (int t = 0; t < kUsed && t < steps; ++t) {
            out.gain[t] = gain[t];
            out.key[t] = key[t] + laneIndex;
        }
    };
    if (steps == 1)
        walk.template operator()<1>();
    else
        walk.template operator()<kSteps>();
    return out;
}

// The rough walk's best split.  Within a lane the splits came in (i, j, k)
// order vector by vector, so the smallest of equal ones is the first.
template <class F, class I>
DXT_INLINE ClusterResult SearchRoughTabled(const ClusterInput& in, const RoughTable& table, bool four,
                                           const int lo[3], const int hi[3])
{
    const RoughLanes<F, I> walk = WalkRoughTabled<F, I>(in, table, four, lo, hi);
    if (walk.steps == 0)
        return Merge<F, I>(Splat<F>(kInvalid), I{}, nullptr, four);
    F gain = walk.gain[0];
    I key = walk.key[0];
    for (int t = 1; t < walk.steps; ++t) {
        const I better = (walk.gain[t] > gain) | ((walk.gain[t] == gain) & (walk.key[t] < key));
        gain = better ? walk.gain[t] : gain;
        key = better ? walk.key[t] : key;
    }
    return Merge<F, I>(Splat<F>(0.0f) - gain, key, nullptr, four);
}

// The entries of p at the lanes' first and middle boundaries, summed.  With
// eight lanes and a box of at most 8 first and 9 middle boundaries, from
// two permutes of the entries the box covers (and a broadcast of the 9th):
// the same values as gathers, in a fraction of the time.
template <class F, class I>
struct BoundaryHeads {
    I i, j;
    // The windows' first entries; the boundaries are then relative to them.
    bool windows = false;
    int wi = 0, wj = 0;

    DXT_INLINE BoundaryHeads(I first, I middle, const int lo[3], const int hi[3]) : i(first), j(middle)
    {
        if constexpr (kLanesOf<F> == 8) {
            windows = hi[0] - lo[0] <= 7 && hi[1] - lo[1] <= 8;
            if (windows) {
                wi = std::clamp(lo[0], 0, kTableTexels);
                wj = std::clamp(lo[1], 0, kTableTexels);
                // Only lanes with a split in the box are used, and the
                // permutes read the low bits alone.
                i -= wi;
                j -= wj;
            }
        }
    }

    DXT_INLINE F operator()(const float* p) const
    {
        if constexpr (kLanesOf<F> == 8) {
            if (windows) {
                // Boundaries are at most 16, so each window ends by entry 23.
                const F atI = PermuteLanes(Load<F>(p + wi), i);
                const F atJ = PermuteLanes(Load<F>(p + wj), j);
                const F ninth = Splat<F>(p[std::min(wj + 8, kTableTexels)]);
                return atI + (j == Splat<I>(8) ? ninth : atJ);
            }
        }
        return GatherLanes<F>(p, i) + GatherLanes<F>(p, j);
    }
};

// The rounded score of the rough walk's best split for each last boundary
// (4-colour, whole blocks); the lowest wins, the smallest split among
// equals.
template <class F, class I, bool kUnit>
DXT_INLINE ClusterResult SearchCandidates(const ClusterInput& in, const RoughTable& table, const int lo[3],
                                          const int hi[3])
{
    const RoughLanes<F, I> walk = WalkRoughTabled<F, I>(in, table, true, lo, hi);
    LaneBest<F, I, false> best;
    best.Start();
    for (int t = 0; t < walk.steps; ++t) {
        const I key = walk.key[t];
        const I i = key >> 16, j = (key >> 8) & 0xFF;
        const BoundaryHeads<F, I> head(i, j, lo, hi);
        const int first = walk.first + t * kLanesOf<F>;
        const I found = walk.gain[t] >= Splat<F>(0.0f);
        best.template Keep<false>(ScoreLanes<F, I, false, kUnit>(in, true, __builtin_convertvector(i, F),
                                                                  __builtin_convertvector(j, F), head, first,
                                                                  walk.last, found),
                                  key);
    }
    return best.Result(true);
}

// Each lane keeps the best split it has seen; the lanes are merged once at
// the end.  Ties go to the first split in (i, j, k) order, whatever the
// width: a lane replaces its best only when strictly better, and the merge
// prefers the smallest split among equal errors.
template <class F, class I, bool kRough, bool kUnit>
DXT_INLINE ClusterResult Search(const ClusterInput& in, bool four, const int lo[3], const int hi[3])
{
    constexpr int kLanes = kLanesOf<F>;
    const int n = in.n;
    LaneBest<F, I, kRough> best;
    best.Start();
    const I laneIndex = __builtin_convertvector(Ramp<F>(), I);
    for (int i = std::max(lo[0], 0); i <= std::min(hi[0], n); ++i) {
        const int jFirst = std::max(lo[1], i), jLast = std::min(hi[1], n);
        if (!four) {
            for (int j = jFirst; j <= jLast; j += kLanes)
                best.template Keep<true>(ScoreLanes<F, I, kRough, kUnit>(in, false, i, 0, j, jLast),
                                         laneIndex + SplitKey(i, 0, j));
            continue;
        }
        for (int j = jFirst; j <= jLast; ++j) {
            const int kFirst = std::max(lo[2], j), kLast = std::min(hi[2], n);
            for (int k = kFirst; k <= kLast; k += kLanes)
                best.template Keep<true>(ScoreLanes<F, I, kRough, kUnit>(in, true, i, j, k, kLast),
                                         laneIndex + SplitKey(i, j, k));
        }
    }
    return best.Result(four);
}

template <class F, class I>
DXT_INLINE ClusterResult SearchAny(const ClusterInput& in, bool four, const int lo[3], const int hi[3],
                                   SplitScore score)
{
    // Unit weights multiply by 1, which changes nothing: skip it.
    const bool unit = in.weight[0] == 1.0f && in.weight[1] == 1.0f && in.weight[2] == 1.0f;
    switch (score) {
    case SplitScore::Candidates:
        if (four && in.n == kTableTexels)
            return unit ? SearchCandidates<F, I, true>(in, GetRoughTable(), lo, hi)
                        : SearchCandidates<F, I, false>(in, GetRoughTable(), lo, hi);
        [[fallthrough]];
    case SplitScore::Rounded:
        return unit ? Search<F, I, false, true>(in, four, lo, hi) : Search<F, I, false, false>(in, four, lo, hi);
    case SplitScore::Rough:
        if (in.n == kTableTexels)
            return SearchRoughTabled<F, I>(in, GetRoughTable(), four, lo, hi);
        // The rough score fits the projections alone: weights play no part.
        return Search<F, I, true, true>(in, four, lo, hi);
    }
    return Merge<F, I>(Splat<F>(kInvalid), I{}, nullptr, four);
}

} // namespace

} // namespace dxt::detail
