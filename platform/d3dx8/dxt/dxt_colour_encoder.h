// Colour blocks.  Candidates come from the principal axis of the texels,
// least-squares refits of the endpoints to the chosen indices, a cluster
// fit over splits of the texels along the axis, and exact tables for blocks
// of a single colour.  Every candidate is judged by its decoded error, so a
// further stage can only help.  Which stages a quality level runs is its
// row of kQualityPlans.
//
// The stages are those of dxt_colour_stages.h, here for one block at a
// time; dxt_colour_batch.h runs some of them for eight blocks at once.
//
// A template over the build (AnyProcessor or Avx2Processor), instantiated
// by the file of each build (see dxt_colour_batch.h).
#pragma once

#include "platform/d3dx8/dxt/dxt_colour_stages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

namespace dxt::detail {

namespace {

using Candidate = Candidates<float>;

// The two builds of the encoder: for any processor, and for AVX2 (with
// the population count instruction, which every AVX2 processor has).
struct AnyProcessor {
    static constexpr bool kAvx2 = false;
};
struct Avx2Processor {
    static constexpr bool kAvx2 = true;
};

template <class Build>
struct SideBySide;

template <class Build>
class ColourEncoder {
public:
    explicit ColourEncoder(const ColourRequest& request);
    void Encode(std::uint8_t block[8]);
    // Runs the axis candidates if nothing has, and reports where they left
    // the block (see ColourFrontEnd); false for blocks without them.
    bool Report(ColourFrontEnd& out)
    {
        if (n_ == 0 || single_)
            return false;
        if (!frontDone_)
            FrontEnd();
        out = {static_cast<std::uint16_t>(best_.c0),
               static_cast<std::uint16_t>(best_.c1),
               best_.four,
               best_.settled,
               goOn_,
               best_.indices,
               best_.error,
               threeError_};
        return true;
    }

private:
    friend struct SideBySide<Build>;
    // What the cluster fit found: no split, the endpoints the block has
    // (c is best_), or new ones (c ordered, not yet measured).
    enum class FitFound : std::uint8_t { None, Known, New };

    const ColourRequest& request_;
    const QualityPlan& plan_;
    const Tables& tables_;
    // Left uninitialised but for what the constructor fills: the stages
    // fill what they read.
    TexelLanes<float> tx_;
    int n_ = 0;            // active texels
    int first_ = 0;        // the first of them
    bool single_ = false;  // every active texel has the same colour
    bool filled_ = false;  // tx_ holds the texels (FillTexels)
    alignas(32) float proj_[16];
    alignas(16) float projSum_[16];
    float weight_[3]{};    // the channel weights
    // The lowest and highest projection of the active texels.
    float lowT_ = 0, highT_ = 0;
    // Bit k: a split may fall before sorted texel k, as its projection
    // differs from the one before it (bits 0 and n_ always).
    std::uint32_t bounds_ = 0;
    // Blocks of up to this many places for a split (six distinct
    // projections) take SearchFewBounds in the full search.
    static constexpr int kFewBounds = 7;
    ClusterInput cluster_;
    Candidate best_;
    // Set once the axis candidates have run (here or side by side): whether
    // the block goes on to the cluster fits, and the 3-colour axis
    // candidate's error.
    bool frontDone_ = false;
    bool fourDone_ = false;  // the 4-colour fits have run side by side
    bool goOn_ = false;
    std::uint32_t threeError_ = UINT32_MAX;

    // Set bits of a 16-bit mask: one instruction in the AVX2 build;
    // baseline x86-64 lacks it.
    static int CountBits(unsigned v)
    {
        if constexpr (Build::kAvx2) {
            return __builtin_popcount(v);
        } else {
            v = v - ((v >> 1) & 0x5555u);
            v = (v & 0x3333u) + ((v >> 2) & 0x3333u);
            v = (v + (v >> 4)) & 0x0F0Fu;
            return static_cast<int>((v + (v >> 8)) & 0x1Fu);
        }
    }
    float QuietBound() const
    {
        return plan_.quietError * static_cast<float>(n_) * (weight_[0] + weight_[1] + weight_[2]) / 3;
    }
    bool ThreeOnly() const { return request_.dxt1 && request_.transparent != 0; }
    // Whole blocks of more than one colour whose axis candidates take one
    // refit: those whose first stages can run side by side.
    bool SharesFrontEnd() const { return n_ == 16 && !single_ && plan_.axisRounds == 1; }
    Candidate Evaluate(std::int32_t c0, std::int32_t c1, bool four) const
    {
        Candidate c = Order<float>(c0, c1, four, request_.dxt1);
        Measure(tx_, c);
        return c;
    }
    void Offer(const Candidate& c)
    {
        if (c.error < best_.error)
            best_ = c;
    }
    void FillTexels();
    void FrontEnd();
    void BackEnd();
    void ClusterFits(bool four);
    void SingleColour(const std::uint8_t rgb[3], bool threeOnly);
    void SortAlongAxis();
    void StartSplit(bool four, int split[3]) const;
    void SplitOfIndices(int split[3]) const;
    ClusterResult SearchAroundRoughBest(bool four, const int start[3]) const;
    ClusterResult SearchFewBounds() const;
    // `full`: over every split, else near the axis's split.
    FitFound ClusterFitCandidate(bool four, bool full, Candidate& c) const;
    Candidate Perturb(Candidate c, int passes) const;
    void Finish(std::uint8_t block[8]);
};

template <class Build>
ColourEncoder<Build>::ColourEncoder(const ColourRequest& request)
    : request_(request), plan_(PlanFor(request.quality)), tables_(GetTables())
{
    ColourSet& set = tx_.kernel.set;
    tx_.kernel.kernels = request.kernels ? request.kernels : &ActiveKernels();
    tx_.dxt1 = request.dxt1;
    const unsigned active = request.active;
    n_ = CountBits(active);
    first_ = active ? __builtin_ctz(active) : 0;
    // Whether the texels that count differ in colour, four words at a time.
    const std::int32_t firstWord = static_cast<std::int32_t>(LoadU32(request.rgba + 4 * first_));
    I4 differ = {};
    for (int g = 0; g < 4; ++g) {
        I4 word;
        std::memcpy(&word, request.rgba + 16 * g, sizeof word);
        const I4 on = ((I4{1, 2, 4, 8} << (4 * g)) & static_cast<std::int32_t>(active)) != 0;
        differ |= on & (word ^ firstWord);
    }
    differ &= I4{} + 0xFFFFFF;
    single_ = ((differ[0] | differ[1]) | (differ[2] | differ[3])) == 0;
    // 1/n from a table: the same value without a division's wait.
    static constexpr auto kInverse = [] {
        std::array<float, 17> inverse{};
        for (int k = 1; k <= 16; ++k)
            inverse[k] = 1.0f / static_cast<float>(k);
        return inverse;
    }();
    tx_.count = static_cast<float>(n_);
    tx_.invCount = kInverse[n_];
    const float* w = request.weights;
    const float wmax = std::max({w[0], w[1], w[2], 0.0f});
    set.weighted = wmax > 0 && !(w[0] == w[1] && w[1] == w[2]);
    tx_.weighted = set.weighted;
    for (int ch = 0; ch < 3; ++ch) {
        int wi = 1;
        if (set.weighted)
            wi = std::max(1, static_cast<int>(std::max(w[ch], 0.0f) / wmax * 128 + 0.5f));
        if (ch < 2)
            set.wrg[ch] = static_cast<std::int16_t>(wi);
        else
            set.wb = static_cast<std::int16_t>(wi);
        weight_[ch] = static_cast<float>(wi);
        tx_.scale[ch] = set.weighted ? std::sqrt(weight_[ch]) : 1.0f;
    }
}

// The block's texels for the stages run here, once, by the first stage
// that reads them: blocks whose stages all run side by side never need
// them.  Texels that do not count take the colour of one that does, so
// that they cannot disturb the kernels, and are masked out of the error.
// Four texels at a time, each as one little-endian word R, G, B, A.
template <class Build>
void ColourEncoder<Build>::FillTexels()
{
    if (filled_)
        return;
    filled_ = true;
    ColourSet& set = tx_.kernel.set;
    const unsigned active = request_.active;
    const std::int32_t firstWord = static_cast<std::int32_t>(LoadU32(request_.rgba + 4 * first_));
    const I4 firstV = {firstWord, firstWord, firstWord, firstWord};
    const I4 byteMask = {0xFF, 0xFF, 0xFF, 0xFF};
    F4 sum[3] = {};
    for (int g = 0; g < 4; ++g) {
        I4 word;
        std::memcpy(&word, request_.rgba + 16 * g, sizeof word);
        const I4 bit = I4{1, 2, 4, 8} << (4 * g);
        const I4 on = (bit & static_cast<std::int32_t>(active)) != 0;
        const I4 used = on ? word : firstV;
        // (r, g) and (b, 0) as pairs of 16-bit values.
        const I4 rg = (used & byteMask) | ((used & (byteMask << 8)) << 8);
        const I4 bz = (used >> 16) & byteMask;
        std::memcpy(set.rg + 8 * g, &rg, sizeof rg);
        std::memcpy(set.bz + 8 * g, &bz, sizeof bz);
        std::memcpy(set.mask + 4 * g, &on, sizeof on);
        const F4 onF = on ? F4{1.0f, 1.0f, 1.0f, 1.0f} : F4{};
        std::memcpy(tx_.on + 4 * g, &onF, sizeof onF);
        for (int ch = 0; ch < 3; ++ch) {
            const F4 x = on ? __builtin_convertvector((word >> (8 * ch)) & byteMask, F4) : F4{};
            std::memcpy(tx_.x[ch] + 4 * g, &x, sizeof x);
            sum[ch] += x;
        }
    }
    // Whole numbers below 2^24: the sums are exact in any order.
    for (int ch = 0; ch < 3; ++ch)
        tx_.xsum[ch] = (sum[ch][0] + sum[ch][1]) + (sum[ch][2] + sum[ch][3]);
}

template <class Build>
void ColourEncoder<Build>::Encode(std::uint8_t block[8])
{
    if (n_ == 0) {
        // No texel counts: endpoints 0, no error.
        best_ = Candidate{};
        best_.four = !ThreeOnly();
        best_.error = 0;
    } else if (single_) {
        SingleColour(request_.rgba + 4 * first_, ThreeOnly());
    } else {
        if (!frontDone_)
            FrontEnd();
        if (goOn_ || plan_.keepsNormal || plan_.nudgePasses != 0)
            BackEnd();
    }
    Finish(block);
}

template <class Build>
void ColourEncoder<Build>::FrontEnd()
{
    FillTexels();
    const AxisResult<float> axis =
        AxisCandidates<float, false>(tx_, plan_, tables_, ThreeOnly(), QuietBound(), proj_, projSum_);
    best_ = axis.best;
    threeError_ = axis.triedThree ? axis.threeError : UINT32_MAX;
    goOn_ = axis.goOn;
    frontDone_ = true;
}

// The cluster fits where the block goes on (the 4-colour ones unless they
// have run side by side), then the nudges.
template <class Build>
void ColourEncoder<Build>::BackEnd()
{
    FillTexels();
    const bool threeOnly = ThreeOnly();
    if (goOn_ && !fourDone_) {
        SortAlongAxis();
        if (!threeOnly)
            ClusterFits(true);
    }
    if (goOn_ && request_.dxt1 && (threeOnly || plan_.threeColourAxis) && best_.error != 0) {
        const bool threeClose = plan_.threeFitReach == 0 || static_cast<float>(threeError_) <
                                                                plan_.threeFitReach * static_cast<float>(best_.error);
        if (threeOnly || threeClose)
            ClusterFits(false);
    }
    if (plan_.keepsNormal) {
        // Normal's searches start from its own candidates, so they find now
        // and then what these did not.
        ColourRequest normal = request_;
        normal.quality = Quality::Normal;
        ColourEncoder<Build> other(normal);
        other.FrontEnd();
        other.BackEnd();
        Offer(other.best_);
    }
    if (plan_.nudgePasses != 0)
        best_ = Perturb(best_, plan_.nudgePasses);
}

// The searches the plan asks for in one mode, the full one first: the
// cluster fit already rounds its endpoints to the grid, so one refit to the
// indices it produces is all that pays.
template <class Build>
void ColourEncoder<Build>::ClusterFits(bool four)
{
    for (const bool full : {true, false}) {
        if (!(full ? plan_.fullSearch : plan_.near != nullptr))
            continue;
        Candidate c;
        const FitFound found = ClusterFitCandidate(four, full, c);
        if (found != FitFound::None)
            Offer(RefitFound<float, false>(tx_, c, found == FitFound::New, true));
    }
}

// A block of one colour: per channel the endpoint pair whose blend lands
// closest, from the tables; both modes where DXT1 allows.
template <class Build>
void ColourEncoder<Build>::SingleColour(const std::uint8_t rgb[3], bool threeOnly)
{
    FillTexels();
    const SingleFit* third[3] = {&tables_.third[0][rgb[0]], &tables_.third[1][rgb[1]], &tables_.third[0][rgb[2]]};
    if (!threeOnly)
        Offer(Evaluate(Pack565(third[0]->e0, third[1]->e0, third[2]->e0),
                       Pack565(third[0]->e1, third[1]->e1, third[2]->e1), true));
    if (request_.dxt1) {
        const SingleFit* half[3] = {&tables_.half[0][rgb[0]], &tables_.half[1][rgb[1]], &tables_.half[0][rgb[2]]};
        Offer(Evaluate(Pack565(half[0]->e0, half[1]->e0, half[2]->e0), Pack565(half[0]->e1, half[1]->e1, half[2]->e1),
                       false));
    }
}

template <class Build>
void ColourEncoder<Build>::SortAlongAxis()
{
    FillTexels();
    // Eight texels per vector where AVX2 holds them in one register.
    int order[16];
    StableOrder<std::conditional_t<Build::kAvx2, F8, F4>>(proj_, order);
    // The places are a permutation of all sixteen texels, those that do not
    // count last.  Their channels are zero and their projections are
    // replaced by zero, so the sums run over a fixed sixteen (which the
    // compiler unrolls) and stop growing at n_, as they should.
    cluster_.n = n_;
    // The four running sums side by side: each is a chain of sixteen
    // additions, and the processor overlaps the chains.
    float sum[4] = {};
    for (int ch = 0; ch < 3; ++ch)
        cluster_.prefix[ch][0] = 0;
    cluster_.axis[0] = 0;
    for (int k = 0; k < 16; ++k) {
        const int at = order[k];
        for (int ch = 0; ch < 3; ++ch)
            cluster_.prefix[ch][k + 1] = sum[ch] += tx_.x[ch][at];
        cluster_.axis[k + 1] = sum[3] += projSum_[at];
    }
    for (int k = 17; k < 24; ++k) {
        for (int ch = 0; ch < 3; ++ch)
            cluster_.prefix[ch][k] = sum[ch];
        cluster_.axis[k] = sum[3];
    }
    for (int ch = 0; ch < 3; ++ch)
        cluster_.weight[ch] = weight_[ch];
    lowT_ = proj_[order[0]];
    highT_ = proj_[order[n_ - 1]];
    bounds_ = 1u | 1u << n_;
    for (int k = 1; k < n_; ++k)
        bounds_ |= static_cast<std::uint32_t>(proj_[order[k]] != proj_[order[k - 1]]) << k;
}

// Where the near searches start: the best 4-colour candidate's split where
// there is one; otherwise the axis's, where texels change index as their
// projections cross the midpoints between evenly spaced palette entries
// spanning the extreme texels.
template <class Build>
void ColourEncoder<Build>::StartSplit(bool four, int split[3]) const
{
    if (four && best_.four) {
        SplitOfIndices(split);
        return;
    }
    const float range = highT_ - lowT_;
    const float at[3] = {lowT_ + (four ? 1.0f / 6 : 0.25f) * range, lowT_ + (four ? 0.5f : 0.75f) * range,
                         lowT_ + (5.0f / 6) * range};
    // The texels below each point, four at a time (a true comparison is -1).
    I4 below[3] = {};
    for (int g = 0; g < 4; ++g) {
        F4 t;
        std::memcpy(&t, proj_ + 4 * g, sizeof t);
        for (int p = 0; p < 3; ++p)
            below[p] += t < Splat<F4>(at[p]);
    }
    for (int p = 0; p < 3; ++p)
        split[p] = -((below[p][0] + below[p][1]) + (below[p][2] + below[p][3]));
    if (!four)
        split[2] = split[1];
}

// The split the best 4-colour candidate's indices make: its texels per
// palette entry, in the entries' order along the axis.  Once refitted, the
// candidate's endpoints sit where the texels are, not at the extremes, so
// where one texel lies far out (a speck, a ringing edge) this split is
// much nearer the best one than the axis's.
template <class Build>
void ColourEncoder<Build>::SplitOfIndices(int split[3]) const
{
    int count[4] = {};
    float at[4] = {};
    for (int t = 0; t < 16; ++t) {
        if (!(request_.active >> t & 1))
            continue;
        const int index = static_cast<int>(best_.indices >> (2 * t) & 3);
        ++count[index];
        at[index] += proj_[t];
    }
    // Entries in the order c0, 2/3 c0 + 1/3 c1, 1/3 c0 + 2/3 c1, c1; that
    // order runs down the axis where c0's texels lie above c1's.
    int run[4] = {count[0], count[2], count[3], count[1]};
    const bool down = count[0] != 0 && count[1] != 0 ? at[0] * static_cast<float>(count[1]) >
                                                            at[1] * static_cast<float>(count[0])
                                                      : at[0] > at[1];
    if (down) {
        std::swap(run[0], run[3]);
        std::swap(run[1], run[2]);
    }
    split[0] = run[0];
    split[1] = run[0] + run[1];
    split[2] = run[0] + run[1] + run[2];
}

// The search for blocks with texels that do not count and for the 3-colour
// fit: a walk of the rough fits in a small box around the suggested split,
// the box moved onto the best rough split while that improves, then the
// rounded score of the splits next to it.
template <class Build>
ClusterResult ColourEncoder<Build>::SearchAroundRoughBest(bool four, const int start[3]) const
{
    const NearBoxes& boxes = *plan_.near;
    int lo[3], hi[3];
    for (int b = 0; b < 3; ++b) {
        lo[b] = start[b] - (four ? boxes.around[b][0] : 1);
        hi[b] = start[b] + (four ? boxes.around[b][1] : 1);
    }
    // The walk ranks splits by their least-squares error before rounding
    // (about half the work per split); the rounded score then decides
    // among the few splits next to the winner, where rounding can reorder
    // them.
    ClusterResult best = SearchSplits(cluster_, four, lo, hi, SplitScore::Rough);
    for (int step = 0; step < 8 && best.error < 1e38f; ++step) {
        // A best split inside the box has every neighbour searched already:
        // moving the box would find nothing new.
        bool inside = true;
        for (int b = 0; b < 3; ++b)
            inside = inside && best.split[b] - 1 >= lo[b] && best.split[b] + 1 <= hi[b];
        if (inside)
            break;
        for (int b = 0; b < 3; ++b) {
            lo[b] = best.split[b] - 1;
            hi[b] = best.split[b] + 1;
        }
        const ClusterResult next = SearchSplits(cluster_, four, lo, hi, SplitScore::Rough);
        if (!(next.error < best.error))
            break;
        best = next;
    }
    if (!(best.error < 1e38f))
        return best;
    for (int b = 0; b < 3; ++b) {
        lo[b] = best.split[b] - boxes.rounded[b];
        hi[b] = best.split[b] + boxes.rounded[b];
    }
    return SearchSplits(cluster_, four, lo, hi);
}

// Whole 4-colour blocks of few distinct projections, over every split: the
// rounded score of the splits whose first two boundaries fall between
// distinct projections (texels of one colour take one index at the best
// split; the last boundary varies across the lanes, so it takes every
// place).  The rough ranking of the split search misjudges these blocks,
// whose few clusters leave many splits of equal rough error.
template <class Build>
ClusterResult ColourEncoder<Build>::SearchFewBounds() const
{
    ClusterResult best;
    best.error = 1e38f;
    for (std::uint32_t is = bounds_; is != 0; is &= is - 1) {
        const int i = __builtin_ctz(is);
        for (std::uint32_t js = bounds_ >> i << i; js != 0; js &= js - 1) {
            const int j = __builtin_ctz(js);
            const int lo[3] = {i, j, j}, hi[3] = {i, j, n_};
            const ClusterResult r = SearchSplits(cluster_, true, lo, hi);
            if (r.error < best.error)
                best = r;
        }
    }
    return best;
}

// For whole 4-colour blocks, a search walks the rough fits of its box of
// splits (every split for the full search, around the suggested one for
// the near search) and scores the rounded endpoints of the roughly best
// split of each last boundary: the rounded winner is usually among those,
// and often not the rough winner itself.  Other blocks take the rounded
// score of every split in the full search, SearchAroundRoughBest in the
// near one.
template <class Build>
typename ColourEncoder<Build>::FitFound ColourEncoder<Build>::ClusterFitCandidate(bool four, bool full,
                                                                                  Candidate& c) const
{
    int lo[3], hi[3];
    ClusterResult best;
    if (full) {
        lo[0] = lo[1] = lo[2] = 0;
        hi[0] = hi[1] = hi[2] = n_;
        if (four && n_ == 16 && CountBits(bounds_ >> 1) + 1 > kFewBounds)
            best = SearchSplits(cluster_, four, lo, hi, SplitScore::Candidates);
        else if (four && n_ == 16)
            best = SearchFewBounds();
        else
            best = SearchSplits(cluster_, four, lo, hi, SplitScore::Rounded);
    } else {
        int start[3];
        StartSplit(four, start);
        if (four && n_ == 16) {
            for (int b = 0; b < 3; ++b) {
                lo[b] = start[b] - plan_.near->candidates[b][0];
                hi[b] = start[b] + plan_.near->candidates[b][1];
            }
            best = SearchSplits(cluster_, four, lo, hi, SplitScore::Candidates);
        } else {
            best = SearchAroundRoughBest(four, start);
        }
    }
    if (!(best.error < 1e38f))
        return FitFound::None;
    // Often the fit lands on the endpoints the block already has, whose
    // measure is known.
    c = Order<float>(best.ends[0], best.ends[1], four, request_.dxt1);
    if (c.c0 == best_.c0 && c.c1 == best_.c1 && c.four == best_.four) {
        c = best_;
        return FitFound::Known;
    }
    return FitFound::New;
}

// Moves single endpoint channels by one grid step while that lowers the
// decoded error: catches what the fits miss through rounding.
template <class Build>
Candidate ColourEncoder<Build>::Perturb(Candidate c, int passes) const
{
    static const int kShift[3] = {11, 5, 0}, kMax[3] = {31, 63, 31};
    for (int pass = 0; pass < passes && c.error != 0; ++pass) {
        bool improved = false;
        for (int e = 0; e < 2; ++e)
            for (int ch = 0; ch < 3; ++ch)
                for (int d = -1; d <= 1; d += 2) {
                    std::int32_t ends[2] = {c.c0, c.c1};
                    const int v = (ends[e] >> kShift[ch] & kMax[ch]) + d;
                    if (v < 0 || v > kMax[ch])
                        continue;
                    ends[e] = (ends[e] & ~(kMax[ch] << kShift[ch])) | (v << kShift[ch]);
                    const Candidate next = Evaluate(ends[0], ends[1], c.four);
                    if (next.error < c.error) {
                        c = next;
                        improved = true;
                    }
                }
        if (!improved)
            break;
    }
    return c;
}

template <class Build>
void ColourEncoder<Build>::Finish(std::uint8_t block[8])
{
    // Transparent texels of DXT1 take index 3, other texels that do not
    // count index 0.
    const unsigned transparent = request_.dxt1 ? request_.transparent : 0u;
    const unsigned unused = ~(request_.active | transparent) & 0xFFFFu;
    const std::uint32_t indices = (best_.indices & ~SpreadToSlots(unused)) | SpreadToSlots(transparent);
    StoreU16(block, static_cast<std::uint16_t>(best_.c0));
    StoreU16(block + 2, static_cast<std::uint16_t>(best_.c1));
    StoreU32(block + 4, indices);
}

} // namespace

} // namespace dxt::detail
