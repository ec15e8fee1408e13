// Colour blocks.  Candidates come from the principal axis of the texels,
// least-squares refits of the endpoints to the chosen indices, and exact
// tables for blocks of a single colour.  Every candidate is judged by its
// decoded error, so a refinement can only help.
#include "dxt_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dxt::detail {

namespace {

struct Candidate {
    std::uint16_t c0 = 0, c1 = 0;
    bool four = true;
    std::uint32_t indices = 0;
    std::uint32_t error = UINT32_MAX;
};

struct Endpoints {
    float a[3], b[3];
};

class ColourEncoder {
public:
    explicit ColourEncoder(const ColourRequest& request);
    void Encode(std::uint8_t block[8]);

private:
    const ColourRequest& request_;
    const Kernels& kernels_;
    const Tables& tables_;
    ColourSet set_{};
    int n_ = 0;            // active texels
    float x_[16][3]{};     // their colours
    float scale_[3]{};     // square roots of the channel weights
    Candidate best_;

    void SingleColour(const std::uint8_t rgb[3], bool threeOnly);
    void Principal(Endpoints& ends) const;
    std::uint16_t Quantise(const float c[3]) const;
    Candidate Evaluate(std::uint16_t c0, std::uint16_t c1, bool four) const;
    Candidate EvaluateEnds(const Endpoints& ends, bool four) const;
    bool FitToIndices(const Candidate& c, Endpoints& ends) const;
    Candidate Refine(Candidate c, int rounds) const;
    void Offer(const Candidate& c)
    {
        if (c.error < best_.error)
            best_ = c;
    }
};

ColourEncoder::ColourEncoder(const ColourRequest& request)
    : request_(request), kernels_(ActiveKernels()), tables_(GetTables())
{
    int first = -1;
    for (int i = 0; i < 16; ++i)
        if (request.active >> i & 1) {
            first = first < 0 ? i : first;
            for (int ch = 0; ch < 3; ++ch)
                x_[n_][ch] = request.rgba[4 * i + ch];
            ++n_;
        }
    // Texels that do not count take the colour of one that does, so that
    // they cannot disturb the kernels, and are masked out of the error.
    for (int i = 0; i < 16; ++i) {
        const bool on = request.active >> i & 1;
        const std::uint8_t* p = request.rgba + 4 * (on || first < 0 ? i : first);
        set_.rg[2 * i] = p[0];
        set_.rg[2 * i + 1] = p[1];
        set_.bz[2 * i] = p[2];
        set_.bz[2 * i + 1] = 0;
        set_.mask[i] = on ? -1 : 0;
    }
    const float* w = request.weights;
    const float wmax = std::max({w[0], w[1], w[2], 0.0f});
    set_.weighted = wmax > 0 && !(w[0] == w[1] && w[1] == w[2]);
    for (int ch = 0; ch < 3; ++ch) {
        const float wc = set_.weighted ? std::max(w[ch], 0.0f) / wmax : 1.0f;
        const int wi = set_.weighted ? std::max(1, static_cast<int>(std::lround(wc * 128))) : 1;
        if (ch < 2)
            set_.wrg[ch] = static_cast<std::int16_t>(wi);
        else
            set_.wb = static_cast<std::int16_t>(wi);
        scale_[ch] = std::sqrt(static_cast<float>(wi));
    }
}

std::uint16_t ColourEncoder::Quantise(const float c[3]) const
{
    int v[3];
    for (int ch = 0; ch < 3; ++ch)
        v[ch] = static_cast<int>(std::lround(std::clamp(c[ch], 0.0f, 255.0f)));
    return Pack565(tables_.nearest[0][v[0]], tables_.nearest[1][v[1]], tables_.nearest[0][v[2]]);
}

// Orders the endpoints for the asked mode and measures the decoded result.
// Equal endpoints in DXT1 read as the 3-colour mode, so they are measured
// as such.
Candidate ColourEncoder::Evaluate(std::uint16_t c0, std::uint16_t c1, bool four) const
{
    Candidate c;
    if (four ? c0 < c1 : c0 > c1)
        std::swap(c0, c1);
    if (request_.dxt1 && c0 == c1)
        four = false;
    c.c0 = c0;
    c.c1 = c1;
    c.four = four;
    std::uint8_t palette[4][4];
    ColourPalette(c0, c1, four || !request_.dxt1, palette);
    c.error = kernels_.colour(set_, palette, four || !request_.dxt1 ? 4 : 3, &c.indices);
    return c;
}

Candidate ColourEncoder::EvaluateEnds(const Endpoints& ends, bool four) const
{
    return Evaluate(Quantise(ends.a), Quantise(ends.b), four);
}

// Power iteration on the weighted covariance; the endpoints are the
// extreme projections onto the principal axis.
void ColourEncoder::Principal(Endpoints& ends) const
{
    float mean[3] = {0, 0, 0};
    for (int i = 0; i < n_; ++i)
        for (int ch = 0; ch < 3; ++ch)
            mean[ch] += x_[i][ch];
    for (float& m : mean)
        m /= static_cast<float>(n_);
    float cov[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < n_; ++i) {
        float d[3];
        for (int ch = 0; ch < 3; ++ch)
            d[ch] = (x_[i][ch] - mean[ch]) * scale_[ch];
        cov[0] += d[0] * d[0];
        cov[1] += d[0] * d[1];
        cov[2] += d[0] * d[2];
        cov[3] += d[1] * d[1];
        cov[4] += d[1] * d[2];
        cov[5] += d[2] * d[2];
    }
    // Start from the row of the largest diagonal term: never orthogonal to
    // the principal axis unless the covariance is degenerate.
    float axis[3];
    if (cov[0] >= cov[3] && cov[0] >= cov[5])
        axis[0] = cov[0], axis[1] = cov[1], axis[2] = cov[2];
    else if (cov[3] >= cov[5])
        axis[0] = cov[1], axis[1] = cov[3], axis[2] = cov[4];
    else
        axis[0] = cov[2], axis[1] = cov[4], axis[2] = cov[5];
    for (int it = 0; it < 6; ++it) {
        const float v[3] = {cov[0] * axis[0] + cov[1] * axis[1] + cov[2] * axis[2],
                            cov[1] * axis[0] + cov[3] * axis[1] + cov[4] * axis[2],
                            cov[2] * axis[0] + cov[4] * axis[1] + cov[5] * axis[2]};
        const float m = std::max({std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])});
        if (m <= 0)
            break;
        for (int ch = 0; ch < 3; ++ch)
            axis[ch] = v[ch] / m;
    }
    float len2 = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
    if (!(len2 > 0)) {
        axis[0] = axis[1] = axis[2] = 1;
        len2 = 3;
    }
    // Back from the weighted space: direction in plain colour units.
    float dir[3];
    for (int ch = 0; ch < 3; ++ch)
        dir[ch] = axis[ch] / scale_[ch];
    float lo = 0, hi = 0;
    for (int i = 0; i < n_; ++i) {
        float t = 0;
        for (int ch = 0; ch < 3; ++ch)
            t += (x_[i][ch] - mean[ch]) * scale_[ch] * axis[ch];
        t /= len2;
        lo = std::min(lo, t);
        hi = std::max(hi, t);
    }
    for (int ch = 0; ch < 3; ++ch) {
        ends.a[ch] = mean[ch] + hi * dir[ch];
        ends.b[ch] = mean[ch] + lo * dir[ch];
    }
}

// Least-squares endpoints for the candidate's indices.  Channels are
// independent once the indices are fixed, so the weights play no part.
bool ColourEncoder::FitToIndices(const Candidate& c, Endpoints& ends) const
{
    static const float kFour[4] = {1.0f, 0.0f, 2.0f / 3.0f, 1.0f / 3.0f};
    static const float kThree[4] = {1.0f, 0.0f, 0.5f, 0.0f};
    const float* weightOf = c.four || !request_.dxt1 ? kFour : kThree;
    float a2 = 0, b2 = 0, ab = 0, ax[3] = {0, 0, 0}, bx[3] = {0, 0, 0};
    for (int i = 0, k = 0; i < 16; ++i) {
        if (!(request_.active >> i & 1))
            continue;
        const float alpha = weightOf[c.indices >> (2 * i) & 3], beta = 1 - alpha;
        a2 += alpha * alpha;
        b2 += beta * beta;
        ab += alpha * beta;
        for (int ch = 0; ch < 3; ++ch) {
            ax[ch] += alpha * x_[k][ch];
            bx[ch] += beta * x_[k][ch];
        }
        ++k;
    }
    const float det = a2 * b2 - ab * ab;
    if (!(std::fabs(det) > 1e-6f))
        return false;
    for (int ch = 0; ch < 3; ++ch) {
        ends.a[ch] = (ax[ch] * b2 - bx[ch] * ab) / det;
        ends.b[ch] = (bx[ch] * a2 - ax[ch] * ab) / det;
    }
    return true;
}

Candidate ColourEncoder::Refine(Candidate c, int rounds) const
{
    for (int r = 0; r < rounds && c.error != 0; ++r) {
        Endpoints ends;
        if (!FitToIndices(c, ends))
            break;
        const Candidate next = EvaluateEnds(ends, c.four);
        if (next.error >= c.error)
            break;
        c = next;
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
    if (n_ > 0) {
        bool single = true;
        for (int i = 1; i < n_ && single; ++i)
            single = x_[i][0] == x_[0][0] && x_[i][1] == x_[0][1] && x_[i][2] == x_[0][2];
        if (single) {
            const std::uint8_t rgb[3] = {static_cast<std::uint8_t>(x_[0][0]), static_cast<std::uint8_t>(x_[0][1]),
                                         static_cast<std::uint8_t>(x_[0][2])};
            SingleColour(rgb, threeOnly);
        } else {
            Endpoints ends;
            Principal(ends);
            const int rounds = request_.quality == Quality::Fast ? 1 : request_.quality == Quality::Normal ? 3 : 8;
            if (!threeOnly)
                Offer(Refine(EvaluateEnds(ends, true), rounds));
            if (request_.dxt1 && (threeOnly || request_.quality != Quality::Fast))
                Offer(Refine(EvaluateEnds(ends, false), rounds));
        }
    } else {
        best_ = Candidate{0, 0, !threeOnly, 0, 0};
    }

    std::uint32_t indices = best_.indices;
    for (int i = 0; i < 16; ++i) {
        const std::uint32_t slot = 3u << (2 * i);
        if (request_.dxt1 && (request_.transparent >> i & 1))
            indices |= slot;
        else if (!(request_.active >> i & 1))
            indices &= ~slot;
    }
    StoreU16(block, best_.c0);
    StoreU16(block + 2, best_.c1);
    StoreU32(block + 4, indices);
}

} // namespace

void EncodeColour(const ColourRequest& request, std::uint8_t block[8])
{
    ColourEncoder encoder(request);
    encoder.Encode(block);
}

} // namespace dxt::detail
