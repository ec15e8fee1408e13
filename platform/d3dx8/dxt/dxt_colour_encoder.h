// Colour blocks.  Candidates come from the principal axis of the texels,
// least-squares refits of the endpoints to the chosen indices, a cluster
// fit over splits of the texels along the axis, and exact tables for blocks
// of a single colour.  Every candidate is judged by its decoded error, so a
// further stage can only help.
//
// Which of the stages each quality level runs is its row of
// kQualityPlans (dxt_internal.h).
//
// Blocks handed over in runs (EncodeColours) run the first stages, and the
// measure and refit of the 4-colour fit, eight at a time in the AVX2 build:
// one block per vector lane, each lane taking its block's steps on the same
// values in the same order, so the bytes are those of one block at a time.
// One block's steps mostly wait on each other; eight blocks' fill the
// processor, and Normal runs about 1.35x faster.
//
// This file is the encoder's body, compiled twice: by dxt_colour.cpp for
// any x86-64 (or other) processor and by dxt_colour_avx2.cpp for AVX2.
// The includer names the entry points (DXT_COLOUR_ENTRY, and the _BATCH_
// and _FRONT_ ones), sets DXT_COLOUR_AVX2 to 1 for the AVX2 build, and
// includes the headers below first, so that only this body takes the AVX2
// target.  Every operation is the same IEEE one in both, so are the bytes
// out.
#include "dxt_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dxt::detail {

namespace {

struct Candidate {
    std::uint16_t c0 = 0, c1 = 0;
    bool four = true;
    // A refit has been tried and left it as it is; another would too.
    bool settled = false;
    std::uint32_t indices = 0;
    std::uint32_t error = UINT32_MAX;
};

typedef float V4 __attribute__((vector_size(16)));
typedef std::int32_t I4 __attribute__((vector_size(16)));
typedef float V8 __attribute__((vector_size(32)));
typedef std::int32_t I8 __attribute__((vector_size(32)));

inline V4 LoadV4(const float* p)
{
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline V4 SplatV4(float v) { return V4{v, v, v, v}; }

// The totals of four vectors as the lanes of one, each summed as
// (v0 + v1) + (v2 + v3): shuffles across the four rather than lanes taken
// out one by one.
inline V4 Totals(V4 a, V4 b, V4 c, V4 d)
{
    const V4 ab = __builtin_shufflevector(a, b, 0, 2, 4, 6) + __builtin_shufflevector(a, b, 1, 3, 5, 7);
    const V4 cd = __builtin_shufflevector(c, d, 0, 2, 4, 6) + __builtin_shufflevector(c, d, 1, 3, 5, 7);
    return __builtin_shufflevector(ab, cd, 0, 2, 4, 6) + __builtin_shufflevector(ab, cd, 1, 3, 5, 7);
}

// Set bits of a 16-bit mask: one instruction in the AVX2 build, which may
// count on it; baseline x86-64 lacks it.
inline int CountBits(unsigned v)
{
#if DXT_COLOUR_AVX2
    return __builtin_popcount(v);
#else
    v = v - ((v >> 1) & 0x5555u);
    v = (v & 0x3333u) + ((v >> 2) & 0x3333u);
    v = (v + (v >> 4)) & 0x0F0Fu;
    return static_cast<int>((v + (v >> 8)) & 0x1Fu);
#endif
}

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

// 2^-e for the power of two 2^e at or below v (v > 0 and below 2^127):
// scaling by it is exact and needs no division.
inline float InversePowerOfTwo(float v)
{
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits = (254u - (bits >> 23)) << 23;
    float inv;
    std::memcpy(&inv, &bits, sizeof inv);
    return inv;
}

struct Endpoints {
    float a[3], b[3];
};

struct LaneBatch;

class ColourEncoder {
public:
    explicit ColourEncoder(const ColourRequest& request);
    void Encode(std::uint8_t block[8]);
    // Runs the front end if nothing has, and reports where it left the
    // block (see ColourFrontEnd); false for blocks without one.
    bool Report(ColourFrontEnd& out)
    {
        if (n_ == 0 || single_)
            return false;
        if (!frontDone_)
            FrontEnd();
        out = {best_.c0, best_.c1, best_.four, best_.settled, goOn_, best_.indices, best_.error, threeError_};
        return true;
    }
#if DXT_COLOUR_AVX2
    friend bool FrontEndSideBySide(ColourEncoder* const encoders[], int count, LaneBatch& batch);
    friend void FitFourSideBySide(ColourEncoder* const encoders[], const LaneBatch& batch);
#endif

private:
    const ColourRequest& request_;
    const QualityPlan& plan_;
    const Kernels& kernels_;
    const Tables& tables_;
    // Left uninitialised: the constructor and the stages fill what they
    // read, and clearing them showed up in profiles.
    ColourSet set_;
    int n_ = 0;            // active texels
    int first_ = 0;        // the first of them
    bool single_ = false;  // every active texel has the same colour
    // All 16 texels by channel, those that do not count as zero, and a
    // 1/0 flag per texel: the sums and dot products read these.
    alignas(16) float xs_[3][16];
    alignas(16) float on_[16];
    float xsum_[3];
    // Projections onto the axis, less the mean's; +inf for texels that do
    // not count, so that they sort last.
    alignas(32) float proj_[16];
    // The same with zero for those texels, for the sums along the axis.
    alignas(16) float projSum_[16];
    float scale_[3]{};     // square roots of the channel weights
    float weight_[3]{};    // the channel weights themselves
    // The lowest and highest projection of the active texels.
    float lowT_ = 0, highT_ = 0;
    ClusterInput cluster_;
    Candidate best_;
    // Set by FrontEndSideBySide, which has run the stages up to the
    // cluster fits (and filled best_, proj_ and projSum_): whether the block
    // goes on to them, and the 3-colour axis candidate's error.
    bool frontDone_ = false;
    bool fourDone_ = false;  // and FitFourSideBySide its 4-colour fit
    bool goOn_ = false;
    std::uint32_t threeError_ = UINT32_MAX;

    // The quiet bound: see QualityPlan::quietError.
    float QuietBound() const
    {
        return plan_.quietError * static_cast<float>(n_) * (weight_[0] + weight_[1] + weight_[2]) / 3;
    }
    // Whole blocks of more than one colour whose axis candidates take one
    // refit: those whose first stages FrontEndSideBySide can run.
    bool SharesFrontEnd() const { return n_ == 16 && !single_ && plan_.axisRounds == 1; }
    void FrontEnd();
    void BackEnd();
    void BackEndThree();
    void Finish(std::uint8_t block[8]);
    void SingleColour(const std::uint8_t rgb[3], bool threeOnly);
    void Principal(Endpoints& ends);
    std::uint16_t Quantise(const float c[3]) const;
    Candidate Order(std::uint16_t c0, std::uint16_t c1, bool four) const;
    Candidate Measure(Candidate c) const;
    Candidate Evaluate(std::uint16_t c0, std::uint16_t c1, bool four) const;
    bool FitToIndices(const Candidate& c, std::uint16_t ends[2]) const;
    void Refine(Candidate* c, int count, int rounds) const;
    Candidate Refine(Candidate c, int rounds) const;
    void SortAlongAxis();
    Candidate Perturb(Candidate c, int passes) const;
    // What the cluster fit found: no split, the endpoints the block has
    // (c is best_), or new ones (c ordered, not yet measured).
    enum class FitFound : std::uint8_t { None, Known, New };
    // `full`: over every split, else near the axis's split.
    FitFound ClusterFitCandidate(bool four, bool full, Candidate& c) const;
    Candidate ClusterFit(bool four, bool full) const;
    // The cluster fits the plan asks for in the mode, each refitted once.
    void ClusterFits(bool four);
    ClusterResult SearchAroundRoughBest(bool four, const int start[3]) const;
    void StartSplit(bool four, int split[3]) const;
    void Offer(const Candidate& c)
    {
        if (c.error < best_.error)
            best_ = c;
    }
};

ColourEncoder::ColourEncoder(const ColourRequest& request)
    : request_(request), plan_(PlanFor(request.quality)), kernels_(ActiveKernels()), tables_(GetTables())
{
    const unsigned active = request.active;
    n_ = CountBits(active);
    first_ = active ? __builtin_ctz(active) : 0;
    // Texels that do not count take the colour of one that does, so that
    // they cannot disturb the kernels, and are masked out of the error.
    // Four texels at a time, each as one little-endian word R, G, B, A.
    const std::int32_t firstWord = static_cast<std::int32_t>(LoadU32(request.rgba + 4 * first_));
    const I4 firstV = {firstWord, firstWord, firstWord, firstWord};
    const I4 byteMask = {0xFF, 0xFF, 0xFF, 0xFF};
    I4 differ = {};
    for (int g = 0; g < 4; ++g) {
        I4 word;
        std::memcpy(&word, request.rgba + 16 * g, sizeof word);
        const I4 bit = I4{1, 2, 4, 8} << (4 * g);
        const I4 on = (bit & static_cast<std::int32_t>(active)) != 0;
        const I4 used = on ? word : firstV;
        differ |= used ^ firstV;
        // (r, g) and (b, 0) as pairs of 16-bit values.
        const I4 rg = (used & byteMask) | ((used & (byteMask << 8)) << 8);
        const I4 bz = (used >> 16) & byteMask;
        std::memcpy(set_.rg + 8 * g, &rg, sizeof rg);
        std::memcpy(set_.bz + 8 * g, &bz, sizeof bz);
        std::memcpy(set_.mask + 4 * g, &on, sizeof on);
        const V4 onF = on ? SplatV4(1.0f) : V4{};
        std::memcpy(on_ + 4 * g, &onF, sizeof onF);
        for (int ch = 0; ch < 3; ++ch) {
            const V4 x = on ? __builtin_convertvector((word >> (8 * ch)) & byteMask, V4) : V4{};
            std::memcpy(xs_[ch] + 4 * g, &x, sizeof x);
        }
    }
    differ &= I4{} + 0xFFFFFF;
    single_ = ((differ[0] | differ[1]) | (differ[2] | differ[3])) == 0;
    // Whole numbers below 2^24: the sums are exact in any order.
    for (int ch = 0; ch < 3; ++ch) {
        const V4 sum = (LoadV4(xs_[ch]) + LoadV4(xs_[ch] + 4)) + (LoadV4(xs_[ch] + 8) + LoadV4(xs_[ch] + 12));
        xsum_[ch] = (sum[0] + sum[1]) + (sum[2] + sum[3]);
    }
    const float* w = request.weights;
    const float wmax = std::max({w[0], w[1], w[2], 0.0f});
    set_.weighted = wmax > 0 && !(w[0] == w[1] && w[1] == w[2]);
    for (int ch = 0; ch < 3; ++ch) {
        int wi = 1;
        if (set_.weighted)
            wi = std::max(1, static_cast<int>(std::max(w[ch], 0.0f) / wmax * 128 + 0.5f));
        if (ch < 2)
            set_.wrg[ch] = static_cast<std::int16_t>(wi);
        else
            set_.wb = static_cast<std::int16_t>(wi);
        weight_[ch] = static_cast<float>(wi);
        scale_[ch] = set_.weighted ? std::sqrt(weight_[ch]) : 1.0f;
    }
}

std::uint16_t ColourEncoder::Quantise(const float c[3]) const
{
    int v[3];
    for (int ch = 0; ch < 3; ++ch)
        v[ch] = static_cast<int>(std::clamp(c[ch], 0.0f, 255.0f) + 0.5f);
    return Pack565(tables_.nearest[0][v[0]], tables_.nearest[1][v[1]], tables_.nearest[0][v[2]]);
}

// Orders the endpoints for the asked mode; Measure then takes the decoded
// result.  Equal endpoints in DXT1 read as the 3-colour mode, so they are
// measured as such.
Candidate ColourEncoder::Order(std::uint16_t c0, std::uint16_t c1, bool four) const
{
    Candidate c;
    if (four ? c0 < c1 : c0 > c1)
        std::swap(c0, c1);
    if (request_.dxt1 && c0 == c1)
        four = false;
    c.c0 = c0;
    c.c1 = c1;
    c.four = four;
    return c;
}

Candidate ColourEncoder::Measure(Candidate c) const
{
    c.error = kernels_.colour(set_, c.c0, c.c1, c.four || !request_.dxt1, &c.indices);
    return c;
}

Candidate ColourEncoder::Evaluate(std::uint16_t c0, std::uint16_t c1, bool four) const
{
    return Measure(Order(c0, c1, four));
}

// Four power steps on the covariance (upper triangle by rows) from axis:
// squaring the matrix twice makes them out of two.  For one block in floats
// and for eight side by side in vectors, the same operations in the same
// order.
template <class T>
inline void PowerSteps(T cov[6], T axis[3])
{
    for (int it = 0; it < 2; ++it) {
        const T c[6] = {cov[0] * cov[0] + cov[1] * cov[1] + cov[2] * cov[2],
                        cov[0] * cov[1] + cov[1] * cov[3] + cov[2] * cov[4],
                        cov[0] * cov[2] + cov[1] * cov[4] + cov[2] * cov[5],
                        cov[1] * cov[1] + cov[3] * cov[3] + cov[4] * cov[4],
                        cov[1] * cov[2] + cov[3] * cov[4] + cov[4] * cov[5],
                        cov[2] * cov[2] + cov[4] * cov[4] + cov[5] * cov[5]};
        for (int e = 0; e < 6; ++e)
            cov[e] = c[e];
    }
    for (int it = 0; it < 2; ++it) {
        const T v[3] = {cov[0] * axis[0] + cov[1] * axis[1] + cov[2] * axis[2],
                        cov[1] * axis[0] + cov[3] * axis[1] + cov[4] * axis[2],
                        cov[2] * axis[0] + cov[4] * axis[1] + cov[5] * axis[2]};
        for (int ch = 0; ch < 3; ++ch)
            axis[ch] = v[ch];
    }
}

// Power iteration on the weighted covariance; the endpoints are the
// extreme projections onto the principal axis.
void ColourEncoder::Principal(Endpoints& ends)
{
    // Sums of whole numbers below 2^24 (exact), centred once at the end;
    // texels that do not count are zero and add nothing.
    static const int kPair[6][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
    // Summed as a tree rather than a chain: the block waits on these.
    V4 prodV[6];
    for (int e = 0; e < 6; ++e) {
        const float* a = xs_[kPair[e][0]];
        const float* b = xs_[kPair[e][1]];
        prodV[e] = (LoadV4(a) * LoadV4(b) + LoadV4(a + 4) * LoadV4(b + 4)) +
                   (LoadV4(a + 8) * LoadV4(b + 8) + LoadV4(a + 12) * LoadV4(b + 12));
    }
    // 1/n from a table: the same value without a division's wait.
    static constexpr auto kInverse = [] {
        std::array<float, 17> inverse{};
        for (int k = 1; k <= 16; ++k)
            inverse[k] = 1.0f / static_cast<float>(k);
        return inverse;
    }();
    const float invN = kInverse[n_];
    float mean[3];
    for (int ch = 0; ch < 3; ++ch)
        mean[ch] = xsum_[ch] * invN;
    float cov[6];
    for (int e = 0; e < 6; ++e) {
        const int a = kPair[e][0], b = kPair[e][1];
        const float prod = (prodV[e][0] + prodV[e][1]) + (prodV[e][2] + prodV[e][3]);
        cov[e] = prod - xsum_[a] * xsum_[b] * invN;
        // Unit scales change nothing; skipping them shortens the chain.
        if (set_.weighted)
            cov[e] = cov[e] * scale_[a] * scale_[b];
    }
    // Scaled once by the power of two at or below the trace (exactly): the
    // eigenvalues are then at most 2 and the largest at least a sixth, so
    // the powers below neither overflow nor underflow, and need no rescaling
    // on the way (which would lengthen the chain the block waits on).
    const float trace = cov[0] + cov[3] + cov[5];
    if (trace > 0) {
        const float inv = InversePowerOfTwo(trace);
        for (int e = 0; e < 6; ++e)
            cov[e] *= inv;
    }
    // Start from the row of the largest diagonal term: never orthogonal to
    // the principal axis unless the covariance is degenerate.
    // Picked by selects: which row wins is data, and a wrong guess costs
    // more than the selects.
    const bool row0 = cov[0] >= cov[3] && cov[0] >= cov[5], row1 = !row0 && cov[3] >= cov[5];
    float axis[3] = {row0 ? cov[0] : row1 ? cov[1] : cov[2], row0 ? cov[1] : row1 ? cov[3] : cov[4],
                     row0 ? cov[2] : row1 ? cov[4] : cov[5]};
    PowerSteps(cov, axis);
    float len2 = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
    if (!(len2 > 0)) {
        axis[0] = axis[1] = axis[2] = 1;
        len2 = 3;
    }
    // Back from the weighted space: the direction in plain colour units, and
    // the axis the projections are taken on.
    float dir[3], along[3];
    for (int ch = 0; ch < 3; ++ch) {
        // Unit scales change nothing; skipping them saves a division's wait.
        dir[ch] = set_.weighted ? axis[ch] / scale_[ch] : axis[ch];
        along[ch] = set_.weighted ? axis[ch] * scale_[ch] : axis[ch];
    }
    // The extremes (of the active texels, and of zero) as a tree over the
    // four groups.
    const V4 inf = {__builtin_inff(), __builtin_inff(), __builtin_inff(), __builtin_inff()};
    V4 low[4], high[4];
    for (int g = 0; g < 4; ++g) {
        V4 t = {};
        for (int ch = 0; ch < 3; ++ch)
            t += (LoadV4(xs_[ch] + 4 * g) - SplatV4(mean[ch])) * SplatV4(along[ch]);
        const I4 on = LoadV4(on_ + 4 * g) > V4{};
        low[g] = (on & (t < V4{})) ? t : V4{};
        high[g] = (on & (t > V4{})) ? t : V4{};
        const V4 counted = on ? t : V4{};
        std::memcpy(projSum_ + 4 * g, &counted, sizeof counted);
        t = on ? t : inf;
        std::memcpy(proj_ + 4 * g, &t, sizeof t);
    }
    auto lower = [](V4 a, V4 b) { return a < b ? a : b; };
    auto higher = [](V4 a, V4 b) { return a > b ? a : b; };
    const V4 lowV = lower(lower(low[0], low[1]), lower(low[2], low[3]));
    const V4 highV = higher(higher(high[0], high[1]), higher(high[2], high[3]));
    const float lo = std::min(std::min(lowV[0], lowV[1]), std::min(lowV[2], lowV[3]));
    const float hi = std::max(std::max(highV[0], highV[1]), std::max(highV[2], highV[3]));
    const float invLen2 = 1.0f / len2;
    for (int ch = 0; ch < 3; ++ch) {
        ends.a[ch] = mean[ch] + hi * invLen2 * dir[ch];
        ends.b[ch] = mean[ch] + lo * invLen2 * dir[ch];
    }
}

// The first stages for eight blocks at once, one block per vector lane
// (FrontEndSideBySide below): only in the AVX2 build, where eight lanes are
// one register.
#if DXT_COLOUR_AVX2
static_assert(kColourBatch == sizeof(V8) / sizeof(float), "a batch is one block per lane");
inline V8 SplatV8(float v) { return V8{} + v; }

inline V8 LoadV8(const float* p)
{
    V8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline I8 SplatI8(int v) { return I8{} + v; }

inline V8 ToV8(I8 v) { return __builtin_convertvector(v, V8); }

inline I8 LoadI8(const std::int32_t* p)
{
    I8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Candidates of eight blocks, one per lane, as Candidate holds them; masks
// are all ones where true.
struct LaneCandidates {
    I8 c0, c1, four, settled, indices, error;

    // `a` where `take` is set, else `b`.
    static LaneCandidates Pick(I8 take, const LaneCandidates& a, const LaneCandidates& b)
    {
        return {take ? a.c0 : b.c0,           take ? a.c1 : b.c1,
                take ? a.four : b.four,       take ? a.settled : b.settled,
                take ? a.indices : b.indices, take ? a.error : b.error};
    }

    // Lane l's candidate.
    Candidate Lane(int l) const
    {
        Candidate c;
        c.c0 = static_cast<std::uint16_t>(c0[l]);
        c.c1 = static_cast<std::uint16_t>(c1[l]);
        c.four = four[l] != 0;
        c.settled = settled[l] != 0;
        c.indices = static_cast<std::uint32_t>(indices[l]);
        c.error = static_cast<std::uint32_t>(error[l]);
        return c;
    }
};

// The texels of eight blocks for the colour kernel: (r, g) as a pair of
// 16-bit values and (b, 0), per texel.
struct LaneTexels {
    I8 rg[16], bz[16];
};

// Order for eight blocks at once, the mode asked for lane by lane (`four`
// a mask).  `fourRule` gets the palette rule the kernel applies (four ||
// !dxt1).
inline LaneCandidates OrderLanes(I8 c0, I8 c1, I8 four, bool dxt1, I8& fourRule)
{
    const I8 swap = four ? c0 < c1 : c0 > c1;
    LaneCandidates c;
    c.c0 = swap ? c1 : c0;
    c.c1 = swap ? c0 : c1;
    c.four = dxt1 ? four & (c.c0 != c.c1) : four;
    c.settled = I8{};
    fourRule = dxt1 ? c.four : SplatI8(-1);
    return c;
}

// The colour kernel for eight blocks: each lane's error and indices are the
// kernel's for its block (the same integer arithmetic, the lowest index on
// ties).
inline void EvaluateLanes(const LaneTexels& tx, LaneCandidates& c, I8 fourRule, const ColourSet& set)
{
    I8 e0[3], e1[3];
    const I8 code0[3] = {(c.c0 >> 11) & 31, (c.c0 >> 5) & 63, c.c0 & 31};
    const I8 code1[3] = {(c.c1 >> 11) & 31, (c.c1 >> 5) & 63, c.c1 & 31};
    for (int ch = 0; ch < 3; ++ch) {
        e0[ch] = ch == 1 ? (code0[ch] << 2) | (code0[ch] >> 4) : (code0[ch] << 3) | (code0[ch] >> 2);
        e1[ch] = ch == 1 ? (code1[ch] << 2) | (code1[ch] >> 4) : (code1[ch] << 3) | (code1[ch] >> 2);
    }
    I8 entry[4][3];
    for (int ch = 0; ch < 3; ++ch) {
        entry[0][ch] = e0[ch];
        entry[1][ch] = e1[ch];
        const I8 third = ((e0[ch] + e0[ch] + e1[ch] + 1) * 0xAAAB) >> 17;
        const I8 mid = (e0[ch] + e1[ch] + 1) >> 1;
        entry[2][ch] = fourRule ? third : mid;
        entry[3][ch] = ((e0[ch] + e1[ch] + e1[ch] + 1) * 0xAAAB) >> 17;
    }
    __m256i prg[4], pbz[4];
    for (int e = 0; e < 4; ++e) {
        prg[e] = (__m256i)(entry[e][0] | (entry[e][1] << 16));
        pbz[e] = (__m256i)entry[e][2];
    }
    const __m256i wrg = _mm256_set1_epi32(static_cast<std::uint16_t>(set.wrg[0]) | (set.wrg[1] << 16));
    const __m256i wb = _mm256_set1_epi32(set.wb);
    const __m256i none = _mm256_set1_epi32(INT_MAX);
    __m256i total = _mm256_setzero_si256(), indices = _mm256_setzero_si256();
    for (int t = 0; t < 16; ++t) {
        __m256i best = none, index = _mm256_setzero_si256();
        for (int e = 0; e < 4; ++e) {
            const __m256i d1 = _mm256_sub_epi16((__m256i)tx.rg[t], prg[e]);
            const __m256i d2 = _mm256_sub_epi16((__m256i)tx.bz[t], pbz[e]);
            __m256i err;
            if (set.weighted)
                err = _mm256_add_epi32(_mm256_madd_epi16(_mm256_mullo_epi16(d1, wrg), d1),
                                       _mm256_madd_epi16(_mm256_mullo_epi16(d2, wb), d2));
            else
                err = _mm256_add_epi32(_mm256_madd_epi16(d1, d1), _mm256_madd_epi16(d2, d2));
            if (e == 3)
                err = _mm256_blendv_epi8(none, err, (__m256i)fourRule);
            const __m256i less = _mm256_cmpgt_epi32(best, err);
            best = _mm256_min_epi32(best, err);
            index = _mm256_blendv_epi8(index, _mm256_set1_epi32(e), less);
        }
        total = _mm256_add_epi32(total, best);
        indices = _mm256_or_si256(indices, _mm256_slli_epi32(index, 2 * t));
    }
    c.error = (I8)total;
    c.indices = (I8)indices;
}

// FitToIndices for eight blocks: each lane takes its steps for its block in
// the same order.  `ok` is clear where the fit has no solution.
inline void FitLanes(const V8 x[3][16], const V8 xsum[3], const LaneCandidates& c, bool dxt1, I8& end0, I8& end1,
                     I8& ok)
{
    // Weights on the first endpoint by index: 4-colour rule, then 3-colour.
    const V8 table = {1.0f, 0.0f, 2.0f / 3.0f, 1.0f / 3.0f, 1.0f, 0.0f, 0.5f, 0.0f};
    const I8 mode = dxt1 ? (~c.four & 4) : I8{};
    V8 w[16];
    for (int t = 0; t < 16; ++t)
        w[t] = _mm256_permutevar8x32_ps(table, (__m256i)(((c.indices >> (2 * t)) & 3) + mode));
    // FitToIndices sums four groups of four texels as vectors: texel t sits
    // in lane t % 4 of group t / 4; then the lanes as (0 + 1) + (2 + 3).
    auto total = [&](auto term) {
        V8 part[4];
        for (int k = 0; k < 4; ++k)
            part[k] = (term(k) + term(4 + k)) + (term(8 + k) + term(12 + k));
        return (part[0] + part[1]) + (part[2] + part[3]);
    };
    const V8 sumA = total([&](int t) { return w[t]; });
    const V8 a2 = total([&](int t) { return w[t] * w[t]; });
    V8 ax[3];
    for (int ch = 0; ch < 3; ++ch)
        ax[ch] = total([&](int t) { return w[t] * x[ch][t]; });
    const V8 ab = sumA - a2, b2 = SplatV8(16.0f) - SplatV8(2.0f) * sumA + a2;
    const V8 det = a2 * b2 - ab * ab;
    ok = _mm256_andnot_ps(SplatV8(-0.0f), det) > SplatV8(1e-6f);
    const V8 inv = SplatV8(1.0f) / det;
    I8 code[2][3];
    for (int ch = 0; ch < 3; ++ch) {
        const V8 bx = xsum[ch] - ax[ch];
        const V8 a = (ax[ch] * b2 - bx * ab) * inv;
        const V8 b = (bx * a2 - ax[ch] * ab) * inv;
        const bool six = ch == 1;
        I8 ca[2], cb[2];
        auto bracket = [&](V8 v, I8 out[2]) {
            const V8 clamped = v > V8{} ? (v < SplatV8(255.0f) ? v : SplatV8(255.0f)) : V8{};
            const V8 whole = __builtin_convertvector(__builtin_convertvector(clamped, I8), V8);
            constexpr float kScale = 1.0f / (1 << 18);
            const V8 numerator = whole * SplatV8(six ? 16.0f : 4.0f) + SplatV8(six ? 15.0f : 3.0f);
            const I8 low = __builtin_convertvector(numerator * SplatV8((six ? 4033 : 7944) * kScale), I8);
            const I8 top = SplatI8(six ? 63 : 31);
            out[0] = low;
            out[1] = low + 1 > top ? top : low + 1;
            out[1] = v < V8{} ? low : out[1];
        };
        bracket(a, ca);
        bracket(b, cb);
        auto expand = [&](I8 v) { return __builtin_convertvector((v * (six ? 65 : 132)) >> 4, V8); };
        const V8 qa[2] = {expand(ca[0]), expand(ca[1])}, qb[2] = {expand(cb[0]), expand(cb[1])};
        V8 e[2][2];
        for (int p2 = 0; p2 < 2; ++p2)
            for (int q2 = 0; q2 < 2; ++q2)
                e[p2][q2] = qa[p2] * (qa[p2] * a2 - SplatV8(2.0f) * ax[ch]) + qb[q2] * (qb[q2] * b2 - SplatV8(2.0f) * bx) +
                            SplatV8(2.0f) * qa[p2] * qb[q2] * ab;
        const I8 lowQ = e[0][1] < e[0][0], highQ = e[1][1] < e[1][0];
        const V8 lowError = lowQ ? e[0][1] : e[0][0], highError = highQ ? e[1][1] : e[1][0];
        const I8 useHigh = highError < lowError;
        const I8 useQ = useHigh ? highQ : lowQ;
        code[0][ch] = useHigh ? ca[1] : ca[0];
        code[1][ch] = useQ ? cb[1] : cb[0];
    }
    end0 = (code[0][0] << 11) | (code[0][1] << 5) | code[0][2];
    end1 = (code[1][0] << 11) | (code[1][1] << 5) | code[1][2];
}

// Eight blocks' texels by lane, and which blocks share the lanes' work.
struct LaneBatch {
    int count = 0;
    bool use[kColourBatch] = {};
    bool dxt1 = false;
    const QualityPlan* plan = nullptr;
    const ColourSet* set = nullptr;  // the first sharing block's: the weights
    LaneTexels tx;
    V8 x[3][16], xsum[3];
};

// One round of Refine for eight blocks' candidates, where `live`.
inline void RefineLanes(const LaneBatch& b, LaneCandidates& c, I8 live)
{
    const I8 tried = live;
    I8 end0, end1, ok;
    FitLanes(b.x, b.xsum, c, b.dxt1, end0, end1, ok);
    live &= (c.error != 0) & ok;
    live &= ~(((end0 == c.c0) & (end1 == c.c1)) | ((end0 == c.c1) & (end1 == c.c0)));
    c.settled |= tried & ~live;
    I8 nextRule;
    LaneCandidates next = OrderLanes(end0, end1, c.four, b.dxt1, nextRule);
    EvaluateLanes(b.tx, next, nextRule, *b.set);
    const I8 tried2 = live;
    live &= next.error < c.error;
    // A better candidate replaces it (not yet refitted); otherwise the refit
    // was tried and left it.
    c.settled |= tried2;
    c = LaneCandidates::Pick(live, next, c);
}

// Encode's stages up to the cluster fits for up to eight blocks at once,
// one block per vector lane: the principal axis, the axis candidates, their
// refit, and whether the block goes on.  Each lane takes the steps the
// per-block stages take for its block, in the same order, so the results
// are the same to the bit; but the eight blocks' chains of dependent steps
// run side by side rather than one after another.  Blocks that do not
// share the work, and lanes past count, are computed on the first sharing
// block's texels and left as they are.  Only in the AVX2 build, where eight
// lanes are one register.
bool FrontEndSideBySide(ColourEncoder* const encoders[], int count, LaneBatch& batch)
{
    typedef V8 L;
    constexpr int kLanes = kColourBatch;
    int first = -1;
    for (int l = 0; l < count && first < 0; ++l)
        if (encoders[l]->SharesFrontEnd())
            first = l;
    if (first < 0)
        return false;
    const ColourEncoder& lead = *encoders[first];
    const ColourRequest& request = lead.request_;
    batch.count = count;
    batch.dxt1 = request.dxt1;
    batch.plan = &lead.plan_;
    batch.set = &lead.set_;
    bool* use = batch.use;
    for (int l = 0; l < count; ++l) {
        const ColourEncoder& e = *encoders[l];
        // The batch shares the format, the level and the weights.
        use[l] = e.SharesFrontEnd() && e.request_.dxt1 == request.dxt1 && &e.plan_ == &lead.plan_ &&
                 e.set_.weighted == lead.set_.weighted && e.set_.wrg[0] == lead.set_.wrg[0] &&
                 e.set_.wrg[1] == lead.set_.wrg[1] && e.set_.wb == lead.set_.wb;
    }
    // The texels by lane, from each block's own words.
    alignas(32) std::int32_t words[16][kLanes];
    for (int l = 0; l < kLanes; ++l) {
        const std::uint8_t* rgba = encoders[l < count && use[l] ? l : first]->request_.rgba;
        for (int t = 0; t < 16; ++t)
            words[t][l] = static_cast<std::int32_t>(LoadU32(rgba + 4 * t));
    }
    L(&x)[3][16] = batch.x;
    L(&xsum)[3] = batch.xsum;
    L scale[3];
    LaneTexels& tx = batch.tx;
    for (int ch = 0; ch < 3; ++ch)
        xsum[ch] = L{};
    for (int t = 0; t < 16; ++t) {
        const I8 w = LoadI8(words[t]);
        for (int ch = 0; ch < 3; ++ch) {
            x[ch][t] = __builtin_convertvector((w >> (8 * ch)) & 255, L);
            // Whole numbers below 2^24: the sums are exact in any order.
            xsum[ch] += x[ch][t];
        }
        tx.rg[t] = (w & 255) | ((w & 0xFF00) << 8);
        tx.bz[t] = (w >> 16) & 255;
    }
    for (int ch = 0; ch < 3; ++ch)
        scale[ch] = SplatV8(lead.scale_[ch]);
    static const int kPair[6][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
    const float invN = 1.0f / 16;
    // Principal sums four groups of four texels as vectors, then the four
    // lanes: texel t sits in lane t % 4 of group t / 4.
    L cov[6];
    for (int e = 0; e < 6; ++e) {
        const L* a = x[kPair[e][0]];
        const L* b = x[kPair[e][1]];
        L part[4];
        for (int k = 0; k < 4; ++k)
            part[k] = (a[k] * b[k] + a[4 + k] * b[4 + k]) + (a[8 + k] * b[8 + k] + a[12 + k] * b[12 + k]);
        const L prod = (part[0] + part[1]) + (part[2] + part[3]);
        // Scales of one, where the block is not weighted, are exact.
        cov[e] = (prod - xsum[kPair[e][0]] * xsum[kPair[e][1]] * invN) * scale[kPair[e][0]] * scale[kPair[e][1]];
    }
    const L trace = cov[0] + cov[3] + cov[5];
    I8 bits;
    std::memcpy(&bits, &trace, sizeof bits);
    bits = (254 - (bits >> 23)) << 23;
    L inv;
    std::memcpy(&inv, &bits, sizeof inv);
    inv = trace > L{} ? inv : SplatV8(1.0f);
    for (int e = 0; e < 6; ++e)
        cov[e] *= inv;
    const I8 row0 = (cov[0] >= cov[3]) & (cov[0] >= cov[5]), row1 = ~row0 & (cov[3] >= cov[5]);
    L axis[3] = {row0 ? cov[0] : row1 ? cov[1] : cov[2], row0 ? cov[1] : row1 ? cov[3] : cov[4],
                 row0 ? cov[2] : row1 ? cov[4] : cov[5]};
    PowerSteps(cov, axis);
    L len2 = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
    const I8 flat = !(len2 > L{});
    for (int ch = 0; ch < 3; ++ch)
        axis[ch] = flat ? SplatV8(1.0f) : axis[ch];
    len2 = flat ? SplatV8(3.0f) : len2;
    L mean[3], dir[3], along[3];
    for (int ch = 0; ch < 3; ++ch) {
        mean[ch] = xsum[ch] * invN;
        dir[ch] = axis[ch] / scale[ch];
        along[ch] = axis[ch] * scale[ch];
    }
    alignas(32) float proj[16][kLanes];
    L low[16], high[16];
    for (int t = 0; t < 16; ++t) {
        L v = {};
        for (int ch = 0; ch < 3; ++ch)
            v += (x[ch][t] - mean[ch]) * along[ch];
        low[t] = v < L{} ? v : L{};
        high[t] = v > L{} ? v : L{};
        std::memcpy(proj[t], &v, sizeof v);
    }
    // Principal's trees of a < b ? a : b (and >) over the four groups, then
    // std::min and std::max over the four lanes (which keep the first on
    // ties).
    L lowV[4], highV[4];
    for (int k = 0; k < 4; ++k) {
        const L l0 = low[k] < low[4 + k] ? low[k] : low[4 + k], l1 = low[8 + k] < low[12 + k] ? low[8 + k] : low[12 + k];
        lowV[k] = l0 < l1 ? l0 : l1;
        const L h0 = high[k] > high[4 + k] ? high[k] : high[4 + k];
        const L h1 = high[8 + k] > high[12 + k] ? high[8 + k] : high[12 + k];
        highV[k] = h0 > h1 ? h0 : h1;
    }
    const L lo01 = lowV[1] < lowV[0] ? lowV[1] : lowV[0], lo23 = lowV[3] < lowV[2] ? lowV[3] : lowV[2];
    const L lo = lo23 < lo01 ? lo23 : lo01;
    const L hi01 = highV[0] < highV[1] ? highV[1] : highV[0], hi23 = highV[2] < highV[3] ? highV[3] : highV[2];
    const L hi = hi01 < hi23 ? hi23 : hi01;
    const L invLen2 = SplatV8(1.0f) / len2;
    const QualityPlan& plan = lead.plan_;
    const bool dxt1 = request.dxt1;
    // Quantise: the nearest grid codes of the rounded values, from the table.
    auto quantise = [&](const L c[3]) {
        I8 code[3];
        for (int ch = 0; ch < 3; ++ch) {
            const L clamped = c[ch] < L{} ? L{} : (SplatV8(255.0f) < c[ch] ? SplatV8(255.0f) : c[ch]);
            const I8 v = __builtin_convertvector(clamped + SplatV8(0.5f), I8);
            const std::uint8_t* table = lead.tables_.nearest[ch == 1 ? 1 : 0];
            // A word from each entry, the low byte its own (see
            // Tables::nearestTail).
            code[ch] = (I8)_mm256_i32gather_epi32(reinterpret_cast<const int*>(table), (__m256i)v, 1) & 255;
        }
        return (code[0] << 11) | (code[1] << 5) | code[2];
    };
    L endA[3], endB[3];
    for (int ch = 0; ch < 3; ++ch) {
        endA[ch] = mean[ch] + hi * invLen2 * dir[ch];
        endB[ch] = mean[ch] + lo * invLen2 * dir[ch];
    }
    const I8 a = quantise(endA), b = quantise(endB);
    // The 4-colour candidate, then the 3-colour one where DXT1 tries it.
    const bool tryThree = dxt1 && plan.threeColourAxis;
    const int count2 = tryThree ? 2 : 1;
    LaneCandidates cand[2];
    I8 rule[2];
    for (int k = 0; k < count2; ++k) {
        cand[k] = OrderLanes(a, b, k == 0 ? SplatI8(-1) : I8{}, dxt1, rule[k]);
        EvaluateLanes(tx, cand[k], rule[k], lead.set_);
    }
    const float quiet = lead.QuietBound();
    const L quietV = SplatV8(quiet);
    const I8 straightToFit = (plan.straightToFit && !dxt1) ? (ToV8(cand[0].error) >= quietV) : I8{};
    const I8 threeFar = (plan.threeAxisReach != 0 && count2 == 2)
                            ? (ToV8(cand[1].error) > SplatV8(plan.threeAxisReach) * ToV8(cand[0].error))
                            : I8{};
    // Refine, one round, the two candidates side by side.
    RefineLanes(batch, cand[0], ~straightToFit);
    if (count2 == 2)
        RefineLanes(batch, cand[1], ~straightToFit & ~threeFar);
    // Offer each in turn: the first of equal errors stays.
    const LaneCandidates best = count2 == 2 ? LaneCandidates::Pick(cand[1].error < cand[0].error, cand[1], cand[0])
                                             : cand[0];
    const I8 quietBlock = plan.quietError != 0 ? ToV8(best.error) < quietV : I8{};
    const I8 goOn = (plan.fullSearch || plan.near ? SplatI8(-1) : I8{}) & (best.error != 0) & ~quietBlock;
    for (int l = 0; l < count; ++l) {
        if (!use[l])
            continue;
        ColourEncoder& e = *encoders[l];
        e.best_ = best.Lane(l);
        e.threeError_ = tryThree ? static_cast<std::uint32_t>(cand[1].error[l]) : UINT32_MAX;
        e.goOn_ = goOn[l] != 0;
        e.frontDone_ = true;
        if (e.goOn_)
            for (int t = 0; t < 16; ++t)
                e.proj_[t] = e.projSum_[t] = proj[t][l];
    }
    return true;
}

// The 4-colour cluster fit of the blocks that go on, after the front end
// side by side: each block's search on its own, then the measure of what
// it found, its refit and the offer of the result eight at a time, each
// lane as Encode would for its block.
void FitFourSideBySide(ColourEncoder* const encoders[], const LaneBatch& batch)
{
    constexpr int kLanes = kColourBatch;
    alignas(32) std::int32_t field[6][kLanes] = {};  // c0, c1, four, settled, indices, error
    alignas(32) std::int32_t state[2][kLanes] = {};  // found, new (all ones where true)
    bool any = false;
    for (int l = 0; l < batch.count; ++l) {
        ColourEncoder& e = *encoders[l];
        if (!batch.use[l] || !e.goOn_)
            continue;
        e.SortAlongAxis();
        Candidate c;
        const ColourEncoder::FitFound found = e.ClusterFitCandidate(true, false, c);
        e.fourDone_ = true;
        if (found == ColourEncoder::FitFound::None)
            continue;
        any = true;
        field[0][l] = c.c0;
        field[1][l] = c.c1;
        field[2][l] = c.four ? -1 : 0;
        field[3][l] = c.settled ? -1 : 0;
        field[4][l] = static_cast<std::int32_t>(c.indices);
        field[5][l] = static_cast<std::int32_t>(c.error);
        state[0][l] = -1;
        state[1][l] = found == ColourEncoder::FitFound::New ? -1 : 0;
    }
    if (!any)
        return;
    LaneCandidates c = {LoadI8(field[0]), LoadI8(field[1]), LoadI8(field[2]),
                        LoadI8(field[3]), LoadI8(field[4]), LoadI8(field[5])};
    const I8 found = LoadI8(state[0]), fresh = LoadI8(state[1]);
    // Measure what is new.
    LaneCandidates measured = c;
    EvaluateLanes(batch.tx, measured, batch.dxt1 ? c.four : SplatI8(-1), *batch.set);
    c.indices = fresh ? measured.indices : c.indices;
    c.error = fresh ? measured.error : c.error;
    RefineLanes(batch, c, found & ~c.settled);
    for (int l = 0; l < batch.count; ++l) {
        ColourEncoder& e = *encoders[l];
        if (found[l])
            e.Offer(c.Lane(l));
    }
}
#endif

// Each texel's weight on the first endpoint for 4 texels at a time, by the
// byte of indices that covers them: [mode][byte] (mode 0: 4 colours, 1: 3).
struct IndexWeights {
    alignas(16) float row[2][256][4];
};

const IndexWeights& GetIndexWeights()
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

// The grid value of codes per channel (red, green, blue, unused):
// (c << 3 | c >> 2) for 5 bits and (c << 2 | c >> 4) for 6 bits are
// c * 132 / 16 and c * 65 / 16 rounded down.  The products stay below 2^15,
// so a 16-bit multiply of the low halves gives them.
inline V4 ExpandCodes(I4 code)
{
#if defined(__SSE2__)
    __m128i c;
    std::memcpy(&c, &code, sizeof c);
    const __m128i product = _mm_mullo_epi16(c, _mm_setr_epi32(132, 65, 132, 132));
    return _mm_cvtepi32_ps(_mm_srli_epi32(product, 4));
#else
    return __builtin_convertvector((code * I4{132, 65, 132, 132}) >> 4, V4);
#endif
}

// The codes either side of each channel's value: the highest whose grid
// value does not exceed it, and the next one up (the same at the top;
// both 0 below the grid).
//
// Grid values are whole numbers, so the code below v is the one below its
// whole part W: the highest c with floor(33 c / 4) <= W (5 bits), that is
// 33 c <= 4 W + 3, or floor(65 c / 16) <= W (6 bits), 65 c <= 16 W + 15.
// The divisions by 33 and 65 are multiplies by 7944 / 2^18 and 4033 / 2^18,
// exact for every W up to 255 (the products stay below 2^24, so in floats
// too): no table lookups, which would take each lane out of the vector and
// back.
inline void BracketCodes(V4 v, I4& low, I4& high)
{
    const I4 top = {31, 63, 31, 31};
    const V4 zero = {}, full = {255.0f, 255.0f, 255.0f, 255.0f};
    // Written so that a NaN would clamp to zero as well.
    const V4 clamped = v > zero ? (v < full ? v : full) : zero;
    const V4 whole = __builtin_convertvector(__builtin_convertvector(clamped, I4), V4);
    constexpr float kScale = 1.0f / (1 << 18);
    const V4 numerator = whole * V4{4.0f, 16.0f, 4.0f, 4.0f} + V4{3.0f, 15.0f, 3.0f, 3.0f};
    const V4 reciprocal = {7944 * kScale, 4033 * kScale, 7944 * kScale, 7944 * kScale};
    const I4 c = __builtin_convertvector(numerator * reciprocal, I4);
    const I4 one = {1, 1, 1, 1};
    low = c;
    high = c + one > top ? top : c + one;
    high = v < zero ? low : high;
}

// Least-squares endpoints for the candidate's indices.  Channels are
// independent once the indices are fixed, so the weights play no part.
// Always inline: a call would part the two candidates' refits, which the
// processor overlaps when they sit side by side.
__attribute__((always_inline)) inline bool ColourEncoder::FitToIndices(const Candidate& c, std::uint16_t ends[2]) const
{
    // Each texel's weight on the first endpoint, zero for texels that do
    // not count; then the sums as dot products over the 16 texels, four at
    // a time.
    const auto& rows = GetIndexWeights().row[c.four || !request_.dxt1 ? 0 : 1];
    // Summed as trees over the four groups: the block waits on these.
    V4 w[4];
    for (int g = 0; g < 4; ++g) {
        std::memcpy(&w[g], rows[c.indices >> (8 * g) & 0xFF], sizeof w[g]);
        w[g] *= LoadV4(on_ + 4 * g);
    }
    const V4 sa = (w[0] + w[1]) + (w[2] + w[3]);
    const V4 saa = (w[0] * w[0] + w[1] * w[1]) + (w[2] * w[2] + w[3] * w[3]);
    V4 sax[3];
    for (int ch = 0; ch < 3; ++ch)
        sax[ch] = (w[0] * LoadV4(xs_[ch]) + w[1] * LoadV4(xs_[ch] + 4)) +
                  (w[2] * LoadV4(xs_[ch] + 8) + w[3] * LoadV4(xs_[ch] + 12));
    // The totals of sax and sa at once, each summed as (v0 + v1) + (v2 + v3).
    const V4 totals = Totals(sax[0], sax[1], sax[2], sa);
    const float n = static_cast<float>(n_), sumA = totals[3], a2 = (saa[0] + saa[1]) + (saa[2] + saa[3]);
    const float ab = sumA - a2, b2 = n - 2 * sumA + a2;
    const float det = a2 * b2 - ab * ab;
    if (!(std::fabs(det) > 1e-6f))
        return false;
    const float inv = 1.0f / det;
    auto splat = [](float v) { return V4{v, v, v, v}; };
    const V4 ax = __builtin_shufflevector(totals, V4{}, 0, 1, 2, 4);
    const V4 bx = V4{xsum_[0], xsum_[1], xsum_[2], 0.0f} - ax;
    const V4 a = (ax * splat(b2) - bx * splat(ab)) * splat(inv);
    const V4 b = (bx * splat(a2) - ax * splat(ab)) * splat(inv);
    // The rounded least-squares point is not always the best grid point for
    // these indices: the error is a quadratic per channel, so compare the
    // grid values on either side of each endpoint.
    I4 ca[2], cb[2];
    BracketCodes(a, ca[0], ca[1]);
    BracketCodes(b, cb[0], cb[1]);
    const V4 qa[2] = {ExpandCodes(ca[0]), ExpandCodes(ca[1])};
    const V4 qb[2] = {ExpandCodes(cb[0]), ExpandCodes(cb[1])};
    V4 e[2][2];
    for (int p = 0; p < 2; ++p)
        for (int q = 0; q < 2; ++q)
            e[p][q] = qa[p] * (qa[p] * splat(a2) - splat(2.0f) * ax) + qb[q] * (qb[q] * splat(b2) - splat(2.0f) * bx) +
                      splat(2.0f) * qa[p] * qb[q] * splat(ab);
    // The lowest of the four, earlier ones first on ties.
    const I4 lowQ = e[0][1] < e[0][0], highQ = e[1][1] < e[1][0];
    const V4 lowError = lowQ ? e[0][1] : e[0][0], highError = highQ ? e[1][1] : e[1][0];
    const I4 useHigh = highError < lowError;
    const I4 useQ = useHigh ? highQ : lowQ;
    const I4 codeA = useHigh ? ca[1] : ca[0], codeB = useQ ? cb[1] : cb[0];
    ends[0] = Pack565(codeA[0], codeA[1], codeA[2]);
    ends[1] = Pack565(codeB[0], codeB[1], codeB[2]);
    return true;
}

// Refits up to two candidates side by side: their fits and evaluations do
// not depend on each other, so the processor overlaps them.  Each stops on
// its own when its endpoints stay put or its error does not fall.
void ColourEncoder::Refine(Candidate* c, int count, int rounds) const
{
    bool live[2] = {count > 0 && !c[0].settled, count > 1 && !c[1].settled};
    for (int r = 0; r < rounds; ++r) {
        std::uint16_t ends[2][2];
        for (int k = 0; k < 2; ++k) {
            const bool tried = live[k];
            live[k] = live[k] && c[k].error != 0 && FitToIndices(c[k], ends[k]);
            // The same endpoints (in either order) give the same block.
            live[k] = live[k] && !((ends[k][0] == c[k].c0 && ends[k][1] == c[k].c1) ||
                                   (ends[k][0] == c[k].c1 && ends[k][1] == c[k].c0));
            c[k].settled = c[k].settled || (tried && !live[k]);
        }
        if (!live[0] && !live[1])
            break;
        Candidate next[2];
        for (int k = 0; k < 2; ++k)
            if (live[k])
                next[k] = Evaluate(ends[k][0], ends[k][1], c[k].four);
        for (int k = 0; k < 2; ++k) {
            const bool tried = live[k];
            live[k] = live[k] && next[k].error < c[k].error;
            if (live[k])
                c[k] = next[k];
            c[k].settled = c[k].settled || (tried && !live[k]);
        }
    }
}

Candidate ColourEncoder::Refine(Candidate c, int rounds) const
{
    // Two slots, the second idle: the loop above indexes both.
    Candidate pair[2] = {c, Candidate{}};
    Refine(pair, 1, rounds);
    return pair[0];
}

// Bit l of the result is set where lane l of the mask is.
inline unsigned LaneBits(I4 mask)
{
#if defined(__SSE2__)
    __m128 m;
    std::memcpy(&m, &mask, sizeof m);
    return static_cast<unsigned>(_mm_movemask_ps(m));
#else
    return (mask[0] & 1) | (mask[1] & 2) | (mask[2] & 4) | (mask[3] & 8);
#endif
}

// Bit i of the result is set where t[i] < v.
inline unsigned BelowBits(const float* t, float v)
{
    const V4 vv = SplatV4(v);
    unsigned less = 0;
    for (int g = 0; g < 4; ++g)
        less |= LaneBits(LoadV4(t + 4 * g) < vv) << (4 * g);
    return less;
}

void ColourEncoder::SortAlongAxis()
{
    // Each texel's place is the number of texels before it in a stable
    // order: texel j comes before texel i when t_j < t_i, or t_j == t_i and
    // j < i.  Counting without branches, one broadcast of texel j against
    // all sixteen at a time, beats a comparison sort, whose branches the
    // processor cannot predict.  Texels that do not count project to +inf
    // and take the places past n_.
    // Eight texels per vector where AVX2 holds them in one register, four
    // otherwise (wider vectors split by the compiler cost more than they
    // save).
#if DXT_COLOUR_AVX2
    typedef V8 RankV;
    typedef I8 RankI;
#else
    typedef V4 RankV;
    typedef I4 RankI;
#endif
    constexpr int kWidth = sizeof(RankV) / sizeof(float), kGroups = 16 / kWidth;
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
        RankV t;
        std::memcpy(&t, proj_ + kWidth * g, sizeof t);
        t += RankV{};
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
    // The places are a permutation of all sixteen texels, those that do not
    // count last.  Their channels are zero and their projections are
    // replaced by zero, so the sums run over a fixed sixteen (which the
    // compiler unrolls) and stop growing at n_, as they should.
    int order[16];
    for (int i = 0; i < 16; ++i)
        order[place[i]] = i;
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
            cluster_.prefix[ch][k + 1] = sum[ch] += xs_[ch][at];
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
}

// The split the axis suggests: texels change index where their
// projections cross the midpoints between evenly spaced palette entries
// spanning the extreme texels.
void ColourEncoder::StartSplit(bool four, int split[3]) const
{
    const float range = highT_ - lowT_;
    auto countBelow = [&](float f) { return CountBits(BelowBits(proj_, lowT_ + f * range)); };
    split[0] = countBelow(four ? 1.0f / 6 : 0.25f);
    split[1] = countBelow(four ? 0.5f : 0.75f);
    split[2] = four ? countBelow(5.0f / 6) : split[1];
}

// The search for blocks with texels that do not count and for the 3-colour
// fit: a walk of the rough fits in a small box around the suggested split,
// the box moved onto the best rough split while that improves, then the
// rounded score of the splits next to it.
ClusterResult ColourEncoder::SearchAroundRoughBest(bool four, const int start[3]) const
{
    int lo[3], hi[3];
    for (int b = 0; b < 3; ++b) {
        lo[b] = start[b] - (four ? plan_.near->around[b][0] : 1);
        hi[b] = start[b] + (four ? plan_.near->around[b][1] : 1);
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
        lo[b] = best.split[b] - plan_.near->rounded[b];
        hi[b] = best.split[b] + plan_.near->rounded[b];
    }
    return SearchSplits(cluster_, four, lo, hi);
}

// Highest tries every split.  For whole 4-colour blocks, Normal walks the
// rough fits of a box of splits around the suggested one and scores the
// rounded endpoints of the roughly best split of each last boundary: the
// rounded winner is usually among those, and often not the rough winner
// itself.  Other blocks take SearchAroundRoughBest.
ColourEncoder::FitFound ColourEncoder::ClusterFitCandidate(bool four, bool full, Candidate& c) const
{
    int lo[3], hi[3];
    ClusterResult best;
    if (full) {
        lo[0] = lo[1] = lo[2] = 0;
        hi[0] = hi[1] = hi[2] = n_;
        best = SearchSplits(cluster_, four, lo, hi);
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
    // A fifth of the time the fit lands on the endpoints the block already
    // has, whose measure is known.
    c = Order(best.ends[0], best.ends[1], four);
    if (c.c0 == best_.c0 && c.c1 == best_.c1 && c.four == best_.four) {
        c = best_;
        return FitFound::Known;
    }
    return FitFound::New;
}

Candidate ColourEncoder::ClusterFit(bool four, bool full) const
{
    Candidate c;
    switch (ClusterFitCandidate(four, full, c)) {
    case FitFound::None:
        return Candidate{};
    case FitFound::Known:
        return c;
    case FitFound::New:
        break;
    }
    return Measure(c);
}

// Moves single endpoint channels by one grid step while that lowers the
// decoded error: catches what the fits miss through rounding.
Candidate ColourEncoder::Perturb(Candidate c, int passes) const
{
    static const int kShift[3] = {11, 5, 0}, kMax[3] = {31, 63, 31};
    for (int pass = 0; pass < passes && c.error != 0; ++pass) {
        bool improved = false;
        for (int e = 0; e < 2; ++e)
            for (int ch = 0; ch < 3; ++ch)
                for (int d = -1; d <= 1; d += 2) {
                    std::uint16_t ends[2] = {c.c0, c.c1};
                    const int v = (ends[e] >> kShift[ch] & kMax[ch]) + d;
                    if (v < 0 || v > kMax[ch])
                        continue;
                    ends[e] = static_cast<std::uint16_t>((ends[e] & ~(kMax[ch] << kShift[ch])) | (v << kShift[ch]));
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

// A block of one colour: per channel the endpoint pair whose blend lands
// closest, from the tables; both modes where DXT1 allows.
void ColourEncoder::SingleColour(const std::uint8_t rgb[3], bool threeOnly)
{
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

void ColourEncoder::Encode(std::uint8_t block[8])
{
    const bool threeOnly = request_.dxt1 && request_.transparent != 0;
    if (n_ == 0) {
        // No texel counts: endpoints 0, no error.
        best_ = Candidate{};
        best_.four = !threeOnly;
        best_.error = 0;
    } else if (single_) {
        const std::uint8_t* rgb = request_.rgba + 4 * first_;
        SingleColour(rgb, threeOnly);
    } else {
        if (!frontDone_)
            FrontEnd();
        BackEnd();
    }
    Finish(block);
}

// The principal axis, the axis candidates and their refit; then whether
// the block goes on to the cluster fits.
void ColourEncoder::FrontEnd()
{
    const bool threeOnly = request_.dxt1 && request_.transparent != 0;
    Endpoints ends;
    Principal(ends);
    const bool tryThree = request_.dxt1 && (threeOnly || plan_.threeColourAxis);
    // The 4-colour candidate first, then the 3-colour one: the earlier wins
    // ties.  Both from the same endpoints on the grid.
    const std::uint16_t a = Quantise(ends.a), b = Quantise(ends.b);
    Candidate axis[2];
    int count = 0;
    if (!threeOnly)
        axis[count++] = Evaluate(a, b, true);
    if (tryThree)
        axis[count++] = Evaluate(a, b, false);
    const float quiet = QuietBound();
    // DXT1 refits both axis candidates side by side: the 3-colour refit
    // decides whether the 3-colour fit runs, and the 4-colour one beside it
    // costs little.  Blocks that go straight to the fit take a refit of no
    // rounds.
    const bool straightToFit =
        plan_.straightToFit && !request_.dxt1 && static_cast<float>(axis[0].error) >= quiet;
    const float fourStart = static_cast<float>(axis[0].error);
    const bool threeFar = plan_.threeAxisReach != 0 && count == 2 &&
                          static_cast<float>(axis[1].error) > plan_.threeAxisReach * fourStart;
    Refine(axis, threeFar ? 1 : count, straightToFit ? 0 : plan_.axisRounds);
    for (int k = 0; k < count; ++k)
        Offer(axis[k]);
    const std::uint32_t threeError = tryThree ? axis[count - 1].error : UINT32_MAX;
    const bool quietBlock = plan_.quietError != 0 && static_cast<float>(best_.error) < quiet;
    goOn_ = (plan_.fullSearch || plan_.near) && best_.error != 0 && !quietBlock;
    threeError_ = threeError;
    frontDone_ = true;
}

// The searches the plan asks for in one mode, the full one first: the
// cluster fit already rounds its endpoints to the grid, so one refit to the
// indices it produces is all that pays.
void ColourEncoder::ClusterFits(bool four)
{
    if (plan_.fullSearch)
        Offer(Refine(ClusterFit(four, true), 1));
    if (plan_.near)
        Offer(Refine(ClusterFit(four, false), 1));
}

// The cluster fits where the block goes on (the 4-colour ones unless
// FitFourSideBySide has run them), then the nudges.
void ColourEncoder::BackEnd()
{
    const bool threeOnly = request_.dxt1 && request_.transparent != 0;
    if (goOn_ && !fourDone_) {
        SortAlongAxis();
        if (!threeOnly)
            ClusterFits(true);
    }
    BackEndThree();
}

// The rest of the back end after the 4-colour fits: the 3-colour fits and
// the nudges.
void ColourEncoder::BackEndThree()
{
    const bool threeOnly = request_.dxt1 && request_.transparent != 0;
    const bool tryThree = request_.dxt1 && (threeOnly || plan_.threeColourAxis);
    if (goOn_) {
        const bool threeClose = plan_.threeFitReach == 0 || static_cast<float>(threeError_) <
                                                                plan_.threeFitReach * static_cast<float>(best_.error);
        if (tryThree && best_.error != 0 && (threeOnly || threeClose))
            ClusterFits(false);
    }
    if (plan_.nudgePasses != 0)
        best_ = Perturb(best_, plan_.nudgePasses);
}

void ColourEncoder::Finish(std::uint8_t block[8])
{
    // Transparent texels of DXT1 take index 3, other texels that do not
    // count index 0.
    const unsigned transparent = request_.dxt1 ? request_.transparent : 0u;
    const unsigned unused = ~(request_.active | transparent) & 0xFFFFu;
    const std::uint32_t indices = (best_.indices & ~SpreadToSlots(unused)) | SpreadToSlots(transparent);
    StoreU16(block, best_.c0);
    StoreU16(block + 2, best_.c1);
    StoreU32(block + 4, indices);
}

} // namespace

void DXT_COLOUR_ENTRY(const ColourRequest& request, std::uint8_t block[8])
{
    ColourEncoder encoder(request);
    encoder.Encode(block);
}

namespace {

// Up to kColourBatch encoders, constructed in place: the encoder has no
// default state to start from.
class Encoders {
public:
    Encoders(const ColourRequest* requests, int count)
    {
        for (int l = 0; l < count; ++l)
            at_[l] = new (storage_[l]) ColourEncoder(requests[l]);
    }
    ColourEncoder* const* all() const { return at_; }
    ColourEncoder& operator[](int l) const { return *at_[l]; }

private:
    alignas(ColourEncoder) unsigned char storage_[kColourBatch][sizeof(ColourEncoder)];
    ColourEncoder* at_[kColourBatch] = {};
};

} // namespace

void DXT_COLOUR_FRONT_ENTRY(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[])
{
    const Encoders encoders(requests, count);
#if DXT_COLOUR_AVX2
    LaneBatch batch;
    if (together)
        FrontEndSideBySide(encoders.all(), count, batch);
#else
    (void)together;
#endif
    for (int l = 0; l < count; ++l)
        ran[l] = encoders[l].Report(out[l]);
}

void DXT_COLOUR_BATCH_ENTRY(const ColourRequest* requests, int count, std::uint8_t* const blocks[])
{
    const Encoders encoders(requests, count);
#if DXT_COLOUR_AVX2
    LaneBatch batch;
    if (FrontEndSideBySide(encoders.all(), count, batch))
        FitFourSideBySide(encoders.all(), batch);
#endif
    // Each block goes on from where the lanes left it.
    for (int l = 0; l < count; ++l)
        encoders[l].Encode(blocks[l]);
}

} // namespace dxt::detail
