// Pieces shared by the decoder, the encoders and their tests.  Not part of
// the library's interface: names and layouts may change with the encoder.
#pragma once

#include "platform/d3d8/formats.h"
#include "platform/d3dx8/bytes.h"
#include "platform/d3dx8/dxt/dxt.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace dxt::detail {

using d3dx::Expand5;
using d3dx::Expand6;

inline std::uint16_t Pack565(int r5, int g6, int b5)
{
    return static_cast<std::uint16_t>((r5 << 11) | (g6 << 5) | b5);
}

using d3dx::LoadU16;
using d3dx::LoadU32;
using d3dx::StoreU16;
using d3dx::StoreU32;

// The four colours a colour block decodes to, RGBA.  `fourColour` selects
// the 4-colour rule (thirds); otherwise entry 2 is the midpoint and entry 3
// transparent black.
void ColourPalette(std::uint16_t c0, std::uint16_t c1, bool fourColour, std::uint8_t out[4][4]);

// The eight alphas an interpolated alpha block decodes to: a0 > a1 gives
// six interpolated values, otherwise four plus 0 and 255.
void AlphaPalette(int a0, int a1, std::uint8_t out[8]);

// Premultiplication as the encoder applies it and the decoder undoes it.
// DXT2 and DXT4, from the format table: looked up once per call of the
// entry points, not per block.
inline bool IsPremultiplied(D3DFORMAT format)
{
    const FormatInfo* info = D3DFormatInfo(format);
    return info && info->premultiplied;
}

inline int Premultiply(int c, int a) { return (c * a + 127) / 255; }
inline int Unpremultiply(int c, int a)
{
    if (a == 0)
        return 0;
    const int v = (c * 255 + a / 2) / a;
    return v > 255 ? 255 : v;
}

// ---------------------------------------------------------------------------
// Tables, built once on first use.

// Best endpoint pair for a single 8-bit value on one channel: the two
// quantised endpoints (5 or 6 bits) whose interpolated entry lies closest.
struct SingleFit {
    std::uint8_t e0, e1;  // quantised endpoints, entry index picks the blend
    std::uint8_t error;   // |decoded - value|
};

struct Tables {
    // [bits==6][value]: endpoints whose 1/3 blend ((2*e0+e1)/3) is closest.
    SingleFit third[2][256];
    // [bits==6][value]: endpoints whose midpoint is closest.
    SingleFit half[2][256];
    // [bits==6][value]: the quantised code whose expansion is closest.
    std::uint8_t nearest[2][256];
    // The vector path reads `nearest` a 32-bit word at a time (its low byte
    // the entry): the reads of the last entries end here.
    std::uint8_t nearestTail[sizeof(std::int32_t) - 1];
};
static_assert(offsetof(Tables, nearestTail) == offsetof(Tables, nearest) + sizeof(Tables::nearest),
              "the word read at the last entry of nearest stays inside Tables");

const Tables& GetTables();
// Builds the tables from the decoding rules (exposed so tests can compare
// against an independent brute-force search).
void BuildTables(Tables& t);

// ---------------------------------------------------------------------------
// Evaluation kernels: the inner loops the encoder spends its time in.  Every
// path gives identical results; the vector ones are chosen at run time.

// 16 texels laid out for the kernels.  rg holds (r, g) pairs, bz (b, 0)
// pairs, so that one multiply-add gives a texel's weighted squared error.
// Texels whose mask is 0 still get an index but add nothing to the error.
struct ColourSet {
    alignas(32) std::int16_t rg[32];
    alignas(32) std::int16_t bz[32];
    alignas(32) std::int32_t mask[16];
    alignas(32) std::int16_t wrg[2];  // integer channel weights (1..128)
    std::int16_t wb;
    bool weighted;                    // false when all weights are equal
};

// For the endpoints c0, c1 and the palette ColourPalette gives for them
// (four entries, or three when `four` is false), picks for each texel the
// nearest entry (lowest index on ties) and returns the summed weighted
// squared error of the masked texels.  `indices` gets 2 bits per texel,
// texel 0 in the low bits.
using ColourKernel = std::uint32_t (*)(const ColourSet& set, std::uint16_t c0, std::uint16_t c1, bool four,
                                       std::uint32_t* indices);

// Interpolated alpha blocks, from the endpoints (a0, a1) and the palette
// AlphaPalette gives for them.  Alphas as 16 bytes, mask as 16 bytes of 0
// or 0xFF.  Returns the summed squared error of the masked alphas against
// the nearest palette entry; `indices` (if not null) gets the index of that
// entry for every alpha (lowest on ties), 3 bits each, alpha 0 in the low
// bits.
using AlphaKernel = std::uint32_t (*)(const std::uint8_t alpha[16], const std::uint8_t mask[16], int a0, int a1,
                                      std::uint64_t* indices);

// The sums the least-squares fit of the endpoints to the indices needs,
// with each alpha's weight w on a0 and v on a1 in units of 1/7 (8-value
// mode) or 1/5 (6-value mode), zero for the fixed 0 and 255 entries and for
// alphas that do not count: w^2, w v, v^2, w x and v x summed.
struct AlphaMoments {
    std::int32_t ww, wv, vv, wx, vx;
};
// The error as AlphaKernel gives it, and the moments of its indices.
using AlphaFitKernel = std::uint32_t (*)(const std::uint8_t alpha[16], const std::uint8_t mask[16], int a0, int a1,
                                         AlphaMoments& moments);

// The error alone for four endpoint pairs at once: ends holds a0, a1 of
// each pair in turn.
using AlphaQuadKernel = void (*)(const std::uint8_t alpha[16], const std::uint8_t mask[16], const int ends[8],
                                 std::uint32_t errors[4]);

struct Kernels;

// A whole interpolated alpha block for the texels in `valid`, with the
// path's kernels (`kernels` is the table this entry sits in).
using AlphaBlockKernel = void (*)(const std::uint8_t rgba[64], std::uint16_t valid, Quality quality,
                                  const Kernels& kernels, std::uint8_t block[8]);

// Bit i set where texel i's alpha is 128 or more.
using OpaqueBitsKernel = std::uint16_t (*)(const std::uint8_t rgba[64]);

struct Kernels {
    ColourKernel colour;
    AlphaKernel alpha;
    AlphaQuadKernel alphaQuad;
    AlphaFitKernel alphaFit;
    AlphaBlockKernel alphaBlock;
    OpaqueBitsKernel opaqueBits;
};

// Each palette entry's weight on a0 and on a1, in units of 1/5 and 1/7:
// [mode][entry], mode 1 for the 8-value mode (a0 > a1).  The 6-value mode's
// fixed 0 and 255 have none.
inline constexpr std::int16_t kAlphaWeightA0[2][8] = {{5, 0, 4, 3, 2, 1, 0, 0}, {7, 0, 6, 5, 4, 3, 2, 1}};
inline constexpr std::int16_t kAlphaWeightA1[2][8] = {{0, 5, 1, 2, 3, 4, 0, 0}, {0, 7, 1, 2, 3, 4, 5, 6}};

// The kernels of the path in use, and of any path the processor has (the
// best one for Auto or a path it lacks).
const Kernels& ActiveKernels();
const Kernels& KernelsFor(Path path);

// ---------------------------------------------------------------------------
// Cluster fit over the texels sorted along an axis.

struct ClusterInput {
    int n = 0;                          // texels
    alignas(32) float prefix[3][24];  // per channel: sum of the first k texels (the
                                      // total past n, so vector loads stay in range)
    float weight[3];                  // channel weights of the error
    // The texels' projections onto the principal axis, summed the same way.
    alignas(32) float axis[24];
};

struct ClusterResult {
    float error;         // up to a constant shared by all splits
    int split[3];        // boundaries i <= j <= k (3-colour: k == j)
    std::uint16_t ends[2];
};

// How a search scores the splits of its box.
enum class SplitScore : std::uint8_t {
    // The error of the least-squares endpoints rounded to the 5:6:5 grid.
    Rounded,
    // The least-squares fit of unrounded endpoints to the projections onto
    // the axis: a third of the work, and along the axis is where the splits
    // differ (error is then relative and may be negative, ends are not
    // filled in).
    Rough,
    // Rough for every split of the box, then Rounded for the roughly best
    // split of each last boundary.  Rounding reorders splits of nearly equal
    // fit, so the rounded winner is often not the rough one; it is usually
    // among these.  For 4-colour blocks of 16 texels; others are scored as
    // Rounded over the whole box.
    Candidates,
};

// Best split with boundaries inside the box lo..hi (inclusive, clamped to
// 0..n).  Texels [0, i) take the first endpoint, [i, j) and [j, k) the
// blends, [k, n) the second; in the 3-colour mode [i, j) takes the
// midpoint and [j, n) the second endpoint.  error is 3e38 when the box
// holds no split with two distinct endpoints.  Among splits of equal score
// the first in (i, j, k) order wins.
ClusterResult SearchSplits(const ClusterInput& in, bool four, const int lo[3], const int hi[3],
                           SplitScore score = SplitScore::Rounded);

// ---------------------------------------------------------------------------
// What each quality level does: one row per level, read by the colour and
// alpha encoders, which look at the level nowhere else.

// The boxes of splits the near search walks, as steps below and above each
// boundary of the split the axis suggests (4-colour mode).  The best split
// tends to give the end runs more texels than the axis suggests, because
// least-squares endpoints sit inside the extreme texels; hence the
// lopsided boxes.
struct NearBoxes {
    // Blocks with texels that do not count: the rough walk's first box (the
    // 3-colour mode has fewer splits and takes one step either side).
    int around[3][2];
    // Steps either side of the rough walk's best split whose rounded
    // endpoints are scored: the last boundary varies across the vector
    // lanes, so it gets the widest reach for the same cost.
    int rounded[3];
    // Whole 4-colour blocks: the box whose rough fits are walked, keeping
    // the roughly best split of each last boundary for the rounded score
    // (eight last boundaries, one AVX2 vector).
    int candidates[3][2];
};
inline constexpr NearBoxes kNearBoxes = {{{1, 4}, {2, 2}, {4, 1}}, {0, 1, 3}, {{1, 6}, {4, 4}, {6, 1}}};

struct QualityPlan {
    // Colour, the axis candidates: least-squares refits of each.
    int axisRounds;
    // DXT1: the 3-colour axis candidate beside the 4-colour one.
    bool threeColourAxis;
    // The 3-colour axis candidate is refitted only where it starts within
    // this factor of the 4-colour one's error (0: always); from further out
    // its refit seldom comes near enough to matter.
    float threeAxisReach;
    // Squared error per texel (over R, G and B, at unit weights; about 2
    // levels per channel) under which a block is left to its refit: the
    // cluster fit finds little there (0: no block is).
    float quietError;
    // 4-colour-only blocks (DXT3, DXT5) whose axis candidate is off by that
    // bound or more go to the cluster fit without the refit: the fit refits
    // its own result and nearly always beats the axis's refit.
    bool straightToFit;
    // Colour, the cluster fits, each followed by one refit: over every
    // split, then over the boxes near the axis's split (none: no fit).
    bool fullSearch;
    const NearBoxes* near;
    // The 3-colour fit runs only where the 3-colour axis candidate came
    // within this factor of the best error so far (0: always); beyond it it
    // never won.  Blocks with DXT1 transparent texels always run it.
    float threeFitReach;
    // Passes of single grid steps of the endpoint channels at the end, each
    // kept where it lowers the error: catches what the fits miss through
    // rounding.
    int nudgePasses;
    // Normal's whole colour search as well, its result kept where it is
    // better: no block then comes out worse than at Normal.
    bool keepsNormal;
    // Interpolated alpha, per mode: least-squares refits, then single steps
    // of the endpoints.
    int alphaRounds, alphaSteps;
    // The 6-value mode is refined only where it starts within this factor
    // of the 8-value mode's best (0: always).
    std::uint32_t sixValueReach;
    // At the end, every endpoint pair within this distance of the best
    // (0: none).
    int alphaReach;
};

inline constexpr QualityPlan kQualityPlans[] = {
    // Fast: the principal axis and one refit.
    {1, false, 0.0f, 0.0f, false, false, nullptr, 0.0f, 0, false, 0, 0, 0, 0},
    // Normal: the cluster fit over the splits near the axis's, the 3-colour
    // mode, and shortcuts where a stage seldom pays.
    {1, true, 1.5f, 12.0f, true, false, &kNearBoxes, 1.2f, 0, false, 4, 4, 2, 0},
    // Highest: every split beside the near search (whose ranking now and
    // then finds a split the full search's misses), four refits, nudges,
    // and Normal's result where better.
    {4, true, 0.0f, 0.0f, false, true, &kNearBoxes, 0.0f, 8, true, 4, 64, 0, 4},
};
static_assert(std::size(kQualityPlans) == static_cast<std::size_t>(Quality::Highest) + 1);

inline const QualityPlan& PlanFor(Quality quality) { return kQualityPlans[static_cast<int>(quality)]; }

// ---------------------------------------------------------------------------
// Block encoders.

struct ColourRequest {
    const std::uint8_t* rgba;    // 16 texels RGBA (already premultiplied if needed)
    std::uint16_t active;        // texels whose colour counts
    std::uint16_t transparent;   // DXT1: texels that must get index 3
    bool dxt1;                   // allow/require the 3-colour mode
    Quality quality;
    const float* weights;        // 3 channel weights
    const Kernels* kernels = nullptr;  // the path's; null: the active path's
};

// Writes the 8-byte colour block.
void EncodeColour(const ColourRequest& request, std::uint8_t block[8]);

// Writes the colour blocks of up to kColourBatch requests, the same bytes
// as EncodeColour gives each; whole blocks share part of the work.
constexpr int kColourBatch = kBlocksPerRun;
void EncodeColours(const ColourRequest* requests, int count, std::uint8_t* const blocks[]);

// Where the colour encoder stands after its axis candidates and their
// refit: the best candidate so far, the 3-colour candidate's error, and
// whether the block goes on to the cluster fits.  For tests that blocks
// run side by side come to the same as blocks run alone.
struct ColourFrontEnd {
    std::uint16_t c0, c1;
    bool four, settled, goOn;
    std::uint32_t indices, error, threeError;
};
// Runs those stages for up to kColourBatch blocks, side by side where the
// active path does so (`together`) or one at a time.  ran[k] is false
// where block k has none of them (no texel counts, or one colour).
void ColourFrontEnds(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[]);

// Writes the 8-byte interpolated alpha block for the texels in `valid`.
// (Through kernels.alphaBlock: dxt_alpha.cpp builds it for each path's
// gather of the alphas, the plain one and the SSE2 one.)
void EncodeAlphaInterpolated(const std::uint8_t rgba[64], std::uint16_t valid, Quality quality,
                             const Kernels& kernels, std::uint8_t block[8]);
void EncodeAlphaInterpolatedScalar(const std::uint8_t rgba[64], std::uint16_t valid, Quality quality,
                                   const Kernels& kernels, std::uint8_t block[8]);
#if defined(__x86_64__)
void EncodeAlphaInterpolatedSse2(const std::uint8_t rgba[64], std::uint16_t valid, Quality quality,
                                 const Kernels& kernels, std::uint8_t block[8]);
#endif

// Writes the 8-byte explicit 4-bit alpha block.
void EncodeAlphaExplicit(const std::uint8_t rgba[64], std::uint16_t valid, std::uint8_t block[8]);

// ---------------------------------------------------------------------------
// The paths.  Each path is its kernels (dxt_kernels.cpp) and a build of the
// colour encoder and the split search: dxt_encoder_any.cpp for any
// processor (the scalar and SSE2 paths), dxt_encoder_avx2.cpp for AVX2.
// dxt_dispatch.cpp picks one; the entry points above call through it.

struct PathCode {
    const Kernels* kernels;
    void (*encodeColour)(const ColourRequest& request, std::uint8_t block[8]);
    void (*encodeColours)(const ColourRequest* requests, int count, std::uint8_t* const blocks[]);
    void (*colourFrontEnds)(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[],
                            bool ran[]);
    ClusterResult (*searchSplits)(const ClusterInput& in, bool four, const int lo[3], const int hi[3],
                                  SplitScore score);
};

const PathCode& ActiveCode();

extern const Kernels kPortableKernels;
void EncodeColourAny(const ColourRequest& request, std::uint8_t block[8]);
void EncodeColoursAny(const ColourRequest* requests, int count, std::uint8_t* const blocks[]);
void ColourFrontEndsAny(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[]);
ClusterResult SearchSplitsAny(const ClusterInput& in, bool four, const int lo[3], const int hi[3], SplitScore score);

#if defined(__x86_64__)
extern const Kernels kSse2Kernels;
extern const Kernels kAvx2Kernels;
// The AVX2 path's kernels, in dxt_encoder_avx2.cpp.
std::uint32_t ColourAvx2(const ColourSet& set, std::uint16_t c0, std::uint16_t c1, bool four, std::uint32_t* indices);
std::uint32_t AlphaAvx2(const std::uint8_t alpha[16], const std::uint8_t mask[16], int a0, int a1,
                        std::uint64_t* indices);
void AlphaQuadAvx2(const std::uint8_t alpha[16], const std::uint8_t mask[16], const int ends[8],
                   std::uint32_t errors[4]);
std::uint32_t AlphaFitAvx2(const std::uint8_t alpha[16], const std::uint8_t mask[16], int a0, int a1,
                           AlphaMoments& moments);
void EncodeColourAvx2(const ColourRequest& request, std::uint8_t block[8]);
void EncodeColoursAvx2(const ColourRequest* requests, int count, std::uint8_t* const blocks[]);
void ColourFrontEndsAvx2(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[]);
ClusterResult SearchSplitsAvx2(const ClusterInput& in, bool four, const int lo[3], const int hi[3], SplitScore score);
#endif

} // namespace dxt::detail
