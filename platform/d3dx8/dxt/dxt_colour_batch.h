// Colour blocks: the entry points of a build of the encoder, and in the
// AVX2 build the stages of blocks handed over in runs (EncodeColours) eight
// at a time.  The axis candidates, and the measure and refit of each cluster
// fit, run over eight lanes, one block per lane: the same stages as for one
// block (dxt_colour_stages.h), taking each block's steps on the same values
// in the same order, so the bytes are those of one block at a time.  One
// block's steps mostly wait on each other; eight blocks' fill the
// processor.
//
// A template over the build, instantiated by dxt_encoder_any.cpp and
// dxt_encoder_avx2.cpp, each after the standard headers and inside its
// target region.
#pragma once

#include "platform/d3dx8/dxt/dxt_colour_encoder.h"

namespace dxt::detail {

namespace {

// Up to kColourBatch encoders, constructed in place: the encoder has no
// default state to start from.
template <class Build>
class Encoders {
public:
    Encoders(const ColourRequest* requests, int count)
    {
        for (int l = 0; l < count; ++l)
            at_[l] = new (storage_[l]) ColourEncoder<Build>(requests[l]);
    }
    ColourEncoder<Build>* const* all() const { return at_; }
    ColourEncoder<Build>& operator[](int l) const { return *at_[l]; }

private:
    alignas(ColourEncoder<Build>) unsigned char storage_[kColourBatch][sizeof(ColourEncoder<Build>)];
    ColourEncoder<Build>* at_[kColourBatch] = {};
};

template <class Build>
struct SideBySide {
    using Encoder = ColourEncoder<Build>;

    // Where up to kColourBatch blocks can share their stages, runs their
    // axis candidates side by side, and where `fits` the measure and refit
    // of their 4-colour cluster fits.  The blocks that share have every
    // texel counting, more than one colour, one refit round, and the
    // format, plan and weights of the first of them; the other blocks, and
    // lanes past count, are computed on that block's texels and left as
    // they are.
    static void Run(Encoder* const encoders[], int count, bool fits)
    {
#if defined(__x86_64__)
        if constexpr (Build::kAvx2) {
            static_assert(kColourBatch == kLanesOf<F8>, "a batch is one block per lane");
            int first = -1;
            for (int l = 0; l < count && first < 0; ++l)
                if (encoders[l]->SharesFrontEnd())
                    first = l;
            if (first < 0)
                return;
            const Encoder& lead = *encoders[first];
            bool use[kColourBatch] = {};
            const ColourSet& weights = lead.tx_.kernel.set;
            for (int l = 0; l < count; ++l) {
                const Encoder& e = *encoders[l];
                const ColourSet& w = e.tx_.kernel.set;
                use[l] = e.SharesFrontEnd() && e.request_.dxt1 == lead.request_.dxt1 && &e.plan_ == &lead.plan_ &&
                         w.weighted == weights.weighted && w.wrg[0] == weights.wrg[0] &&
                         w.wrg[1] == weights.wrg[1] && w.wb == weights.wb;
            }
            TexelLanes<F8> tx;
            Fill(encoders, count, first, use, tx);
            F8 proj[16], projSum[16];
            const AxisResult<F8> axis =
                AxisCandidates<F8, true>(tx, lead.plan_, lead.tables_, false, lead.QuietBound(), proj, projSum);
            for (int l = 0; l < count; ++l) {
                if (!use[l])
                    continue;
                Encoder& e = *encoders[l];
                e.best_ = LaneCandidate(axis.best, l);
                e.threeError_ = axis.triedThree ? static_cast<std::uint32_t>(axis.threeError[l]) : UINT32_MAX;
                e.goOn_ = axis.goOn[l] != 0;
                e.frontDone_ = true;
                if (e.goOn_)
                    for (int t = 0; t < 16; ++t)
                        e.proj_[t] = e.projSum_[t] = proj[t][l];
            }
            if (fits)
                FitFour(encoders, count, use, lead.plan_, tx);
        }
#endif
        (void)encoders;
        (void)count;
        (void)fits;
    }

#if defined(__x86_64__)
    // The lanes' texels, from each block's own words.
    static void Fill(Encoder* const encoders[], int count, int first, const bool use[], TexelLanes<F8>& tx)
    {
        const Encoder& lead = *encoders[first];
        alignas(32) std::int32_t words[16][kColourBatch];
        for (int l = 0; l < kColourBatch; ++l) {
            const std::uint8_t* rgba = encoders[l < count && use[l] ? l : first]->request_.rgba;
            for (int t = 0; t < 16; ++t)
                words[t][l] = static_cast<std::int32_t>(LoadU32(rgba + 4 * t));
        }
        for (int ch = 0; ch < 3; ++ch)
            tx.xsum[ch] = F8{};
        for (int t = 0; t < 16; ++t) {
            I8 w;
            std::memcpy(&w, words[t], sizeof w);
            for (int ch = 0; ch < 3; ++ch) {
                tx.x[ch][t] = ToFloat((w >> (8 * ch)) & 255);
                // Whole numbers below 2^24: the sums are exact in any order.
                tx.xsum[ch] += tx.x[ch][t];
            }
            tx.kernel.rg[t] = (w & 255) | ((w & 0xFF00) << 8);
            tx.kernel.bz[t] = (w >> 16) & 255;
        }
        tx.count = Splat<F8>(16.0f);
        tx.invCount = Splat<F8>(1.0f / 16);
        tx.dxt1 = lead.request_.dxt1;
        tx.weighted = lead.tx_.weighted;
        for (int ch = 0; ch < 3; ++ch)
            tx.scale[ch] = lead.tx_.scale[ch];
        tx.kernel.weights = &lead.tx_.kernel.set;
    }

    // Lane l's candidate.
    static Candidate LaneCandidate(const Candidates<F8>& c, int l)
    {
        Candidate one;
        one.c0 = c.c0[l];
        one.c1 = c.c1[l];
        one.four = c.four[l] != 0;
        one.settled = c.settled[l] != 0;
        one.indices = static_cast<std::uint32_t>(c.indices[l]);
        one.error = static_cast<std::uint32_t>(c.error[l]);
        return one;
    }

    // The 4-colour cluster fits of the blocks that go on, after their axis
    // candidates: each block's search on its own, then the measure of what
    // it found and its refit eight at a time, and each block's offer of
    // the result, in the order the plan's searches take.
    static void FitFour(Encoder* const encoders[], int count, const bool use[], const QualityPlan& plan,
                        const TexelLanes<F8>& tx)
    {
        bool sorted = false;
        for (const bool full : {true, false}) {
            if (!(full ? plan.fullSearch : plan.near != nullptr))
                continue;
            alignas(32) std::int32_t field[6][kColourBatch] = {};  // c0, c1, four, settled, indices, error
            alignas(32) std::int32_t state[2][kColourBatch] = {};  // found, new (all ones where true)
            bool any = false;
            for (int l = 0; l < count; ++l) {
                Encoder& e = *encoders[l];
                if (!use[l] || !e.goOn_)
                    continue;
                // Each block sorted just before its first search, well after
                // the stores of its projections.
                if (!sorted) {
                    e.SortAlongAxis();
                    e.fourDone_ = true;
                }
                Candidate c;
                const typename Encoder::FitFound found = e.ClusterFitCandidate(true, full, c);
                if (found == Encoder::FitFound::None)
                    continue;
                any = true;
                field[0][l] = c.c0;
                field[1][l] = c.c1;
                field[2][l] = c.four ? -1 : 0;
                field[3][l] = c.settled ? -1 : 0;
                field[4][l] = static_cast<std::int32_t>(c.indices);
                field[5][l] = static_cast<std::int32_t>(c.error);
                state[0][l] = -1;
                state[1][l] = found == Encoder::FitFound::New ? -1 : 0;
            }
            sorted = true;
            if (!any)
                continue;
            auto load = [](const std::int32_t* p) {
                I8 v;
                std::memcpy(&v, p, sizeof v);
                return v;
            };
            Candidates<F8> c;
            c.c0 = load(field[0]);
            c.c1 = load(field[1]);
            c.four = load(field[2]);
            c.settled = load(field[3]);
            c.indices = load(field[4]);
            c.error = load(field[5]);
            const I8 found = load(state[0]);
            c = RefitFound<F8, true>(tx, c, load(state[1]), found);
            for (int l = 0; l < count; ++l)
                if (found[l])
                    encoders[l]->Offer(LaneCandidate(c, l));
        }
    }
#endif
};

template <class Build>
void EncodeColourWith(const ColourRequest& request, std::uint8_t block[8])
{
    ColourEncoder<Build> encoder(request);
    encoder.Encode(block);
}

template <class Build>
void ColourFrontEndsWith(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[])
{
    const Encoders<Build> encoders(requests, count);
    if (together)
        SideBySide<Build>::Run(encoders.all(), count, false);
    for (int l = 0; l < count; ++l)
        ran[l] = encoders[l].Report(out[l]);
}

template <class Build>
void EncodeColoursWith(const ColourRequest* requests, int count, std::uint8_t* const blocks[])
{
    const Encoders<Build> encoders(requests, count);
    SideBySide<Build>::Run(encoders.all(), count, true);
    // Each block goes on from where the lanes left it.
    for (int l = 0; l < count; ++l)
        encoders[l].Encode(blocks[l]);
}

} // namespace

} // namespace dxt::detail
