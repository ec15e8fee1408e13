#include "platform/d3dx8/pixel/mip_settings.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <numbers>
#include <utility>

namespace d3dx::pixel {

namespace {

constexpr double kKaiserRadius = 3;  // in destination texels
constexpr double kKaiserBeta = 4;

UINT NextSide(UINT side) { return std::max(1u, side / 2); }

double SrgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

// Buckets of the linear scale for encoding: kBuckets equal steps of 0 to 1.
constexpr int kBuckets = 4096;

// What a byte means while filtering, per kind of channel, and the linear
// values at which sRGB codes change: code c holds the linear values from
// linearEdges[c] up to linearEdges[c + 1], so a value goes to the nearest
// code in the encoded scale (a half up).  firstCode[b] is the code of the
// least value of bucket b; every code spans more than a bucket (the
// narrowest, 1 to 10, 1.24), so the code of any value in the bucket is
// that one or the next, and one step either way also mends a bucket index
// that float rounding put one too high.
struct Tables {
    std::array<float, 256> stored{};  // the byte itself
    std::array<float, 256> linear{};  // sRGB decoded, 0 to 1
    std::array<float, 256> vector{};  // 2 * c / 255 - 1
    std::array<float, 257> linearEdges{};
    std::array<std::uint8_t, kBuckets + 1> firstCode{};
};

Tables MakeTables()
{
    Tables t;
    for (int c = 0; c < 256; ++c) {
        t.stored[c] = float(c);
        t.linear[c] = float(SrgbToLinear(c / 255.0));
        t.vector[c] = float(2.0 * c / 255.0 - 1.0);
        t.linearEdges[c] = c == 0 ? -HUGE_VALF : float(SrgbToLinear((c - 0.5) / 255.0));
    }
    t.linearEdges[256] = HUGE_VALF;
    for (int b = 0; b <= kBuckets; ++b) {
        const float low = float(b) / kBuckets;
        t.firstCode[b] = static_cast<std::uint8_t>(
            std::upper_bound(t.linearEdges.begin() + 1, t.linearEdges.end() - 1, low) - t.linearEdges.begin() - 1);
    }
    return t;
}

const Tables& GetTables()
{
    static const Tables tables = MakeTables();
    return tables;
}

std::uint8_t EncodeLinear(const Tables& t, float v)
{
    int code = t.firstCode[static_cast<int>(std::clamp(v, 0.0f, 1.0f) * kBuckets)];
    code -= v < t.linearEdges[code];
    code += v >= t.linearEdges[code + 1];
    return static_cast<std::uint8_t>(code);
}

std::uint8_t EncodeStored(float v) { return static_cast<std::uint8_t>(std::clamp(std::floor(v + 0.5f), 0.0f, 255.0f)); }

std::uint8_t EncodeVector(float v)
{
    return static_cast<std::uint8_t>(std::clamp(std::floor((v + 1.0f) * 127.5f + 0.5f), 0.0f, 255.0f));
}

// Source taps of each destination texel along one axis: texel x reads
// index[start[x]] .. index[start[x + 1] - 1] with their weights (sum 1).
struct Taps {
    std::vector<UINT> start, index;
    std::vector<float> weight;
};

double BesselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 40 && term > 1e-12 * sum; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

// The windowed sinc at t destination texels from the centre.
double KaiserSinc(double t)
{
    if (std::abs(t) >= kKaiserRadius)
        return 0;
    const double r = t / kKaiserRadius, pt = std::numbers::pi * t;
    const double sinc = t == 0 ? 1 : std::sin(pt) / pt;
    return sinc * BesselI0(kKaiserBeta * std::sqrt(1 - r * r)) / BesselI0(kKaiserBeta);
}

UINT EdgeIndex(long i, UINT n, bool wrap)
{
    const long size = static_cast<long>(n);
    return static_cast<UINT>(wrap ? ((i % size) + size) % size : std::clamp(i, 0L, size - 1));
}

// Destination texel x covers source [x * scale, (x + 1) * scale), scale =
// sw / dw: a box weighs each source texel by its overlap, the Kaiser filter
// by the kernel stretched by `scale` at the texel's centre.
Taps MakeTaps(MipFilter filter, bool wrap, UINT sw, UINT dw)
{
    Taps taps;
    const double scale = double(sw) / dw;
    // The Kaiser taps as (offset from the first, weight): the same for every
    // texel whose centre sits at the same distance from its first tap, as
    // all do when the scale is whole.
    std::vector<std::pair<long, double>> kernel;
    double kernelAt = -1;
    std::vector<double> weights;
    for (UINT x = 0; x < dw; ++x) {
        taps.start.push_back(static_cast<UINT>(taps.weight.size()));
        weights.clear();
        if (sw == dw) {
            taps.index.push_back(x);
            weights.push_back(1);
        } else if (filter == MipFilter::Box) {
            const double lo = x * scale, hi = (x + 1) * scale;
            for (UINT i = static_cast<UINT>(lo); i < sw && i < hi; ++i) {
                taps.index.push_back(i);
                weights.push_back(std::min(hi, i + 1.0) - std::max(lo, double(i)));
            }
        } else {
            const double centre = (x + 0.5) * scale, reach = kKaiserRadius * scale;
            const auto lo = static_cast<long>(std::floor(centre - reach));
            if (centre - lo != kernelAt) {
                kernel.clear();
                kernelAt = centre - lo;
                for (long i = lo; i <= static_cast<long>(std::ceil(centre + reach)); ++i)
                    if (const double w = KaiserSinc((i + 0.5 - centre) / scale); w != 0)
                        kernel.emplace_back(i - lo, w);
            }
            for (const auto& [offset, w] : kernel) {
                taps.index.push_back(EdgeIndex(lo + offset, sw, wrap));
                weights.push_back(w);
            }
        }
        double sum = 0;
        for (double w : weights)
            sum += w;
        for (double w : weights)
            taps.weight.push_back(static_cast<float>(w / sum));
    }
    taps.start.push_back(static_cast<UINT>(taps.weight.size()));
    return taps;
}

// A texel's four channels in one vector register (the compiler's vector
// type: SSE on x86, NEON on ARM, or plain floats).
using Texel = float __attribute__((vector_size(16)));

// One row filtered across.  Even and odd taps add into two sums, so that
// the additions of a long kernel do not wait on each other.
void Across(const Taps& taps, const Texel* source, UINT dw, Texel* out)
{
    const UINT *start = taps.start.data(), *index = taps.index.data();
    const float* weight = taps.weight.data();
    for (UINT x = 0; x < dw; ++x) {
        Texel even = {0, 0, 0, 0}, odd = {0, 0, 0, 0};
        UINT t = start[x];
        const UINT end = start[x + 1];
        for (; t + 1 < end; t += 2) {
            even += weight[t] * source[index[t]];
            odd += weight[t + 1] * source[index[t + 1]];
        }
        if (t < end)
            even += weight[t] * source[index[t]];
        out[x] = even + odd;
    }
}

// Destination row y from the rows filtered across (dw texels each), four
// texels at a time so that four sums run side by side.
void Down(const Taps& taps, UINT y, const Texel* rows, UINT dw, Texel* out)
{
    const UINT first = taps.start[y], end = taps.start[y + 1];
    const UINT* index = taps.index.data();
    const float* weight = taps.weight.data();
    UINT x = 0;
    for (; x + 4 <= dw; x += 4) {
        Texel a = {0, 0, 0, 0}, b = a, c = a, d = a;
        for (UINT t = first; t < end; ++t) {
            const Texel* row = rows + std::size_t(index[t]) * dw + x;
            a += weight[t] * row[0], b += weight[t] * row[1], c += weight[t] * row[2], d += weight[t] * row[3];
        }
        out[x] = a, out[x + 1] = b, out[x + 2] = c, out[x + 3] = d;
    }
    for (; x < dw; ++x) {
        Texel a = {0, 0, 0, 0};
        for (UINT t = first; t < end; ++t)
            a += weight[t] * rows[std::size_t(index[t]) * dw + x];
        out[x] = a;
    }
}

void EncodeRow(const MipSettings& s, const Tables& tables, const Texel* row, UINT n, std::uint8_t* out)
{
    for (UINT x = 0; x < n; ++x, out += 4) {
        const Texel v = row[x];
        if (s.normalMap) {
            // A vector that cancels out points straight up.
            const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
            const bool unit = length > 1e-6f;
            out[0] = EncodeVector(unit ? v[0] / length : 0), out[1] = EncodeVector(unit ? v[1] / length : 0);
            out[2] = EncodeVector(unit ? v[2] / length : 1);
        } else if (s.mips == MipSpace::Linear) {
            for (int k = 0; k < 3; ++k)
                out[k] = EncodeLinear(tables, v[k]);
        } else {
            for (int k = 0; k < 3; ++k)
                out[k] = EncodeStored(v[k]);
        }
        out[3] = EncodeStored(v[3]);
    }
}

// Filters in float: each source row decoded and filtered across, then the
// filtered rows down, then encoded by the kind of each channel.
void FilterLevel(const MipSettings& s, const MipPicture& upper, MipPicture& out)
{
    const Tables& tables = GetTables();
    const auto& colour = s.normalMap ? tables.vector : s.mips == MipSpace::Linear ? tables.linear : tables.stored;
    const UINT sw = upper.width, sh = upper.height, dw = out.width, dh = out.height;
    const Taps across = MakeTaps(s.filter, s.wrap, sw, dw), down = MakeTaps(s.filter, s.wrap, sh, dh);
    std::vector<Texel> source(sw), rows(std::size_t(dw) * sh), row(dw);
    for (UINT y = 0; y < sh; ++y) {
        const std::uint8_t* in = &upper.rgba[std::size_t(y) * sw * 4];
        for (UINT x = 0; x < sw; ++x, in += 4)
            source[x] = Texel{colour[in[0]], colour[in[1]], colour[in[2]], tables.stored[in[3]]};
        Across(across, source.data(), dw, &rows[std::size_t(y) * dw]);
    }
    for (UINT y = 0; y < dh; ++y) {
        Down(down, y, rows.data(), dw, row.data());
        EncodeRow(s, tables, row.data(), dw, &out.rgba[std::size_t(y) * dw * 4]);
    }
}

std::uint8_t ScaleAlpha(int alpha, double scale)
{
    return static_cast<std::uint8_t>(std::min(255.0, std::floor(alpha * scale + 0.5)));
}

// Coverage at `scale` from the level's texel counts at or above each alpha.
double ScaledCoverage(const std::array<std::size_t, 257>& atOrAbove, double scale, std::uint8_t test)
{
    int lo = 0, hi = 256;  // the least alpha that scales to the test or above
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (ScaleAlpha(mid, scale) >= test)
            hi = mid;
        else
            lo = mid + 1;
    }
    return double(atOrAbove[lo]) / double(atOrAbove[0]);
}

// Scales the level's alpha so that its coverage comes nearest `coverage`.
// Coverage rises with the scale, so a binary search finds the least scale
// that reaches it; that one or the one just below, whichever lands nearer.
// A scale of 1 is kept when it lands as near, so a level that already
// matches is left alone.
void MatchCoverage(MipPicture& level, double coverage, std::uint8_t test)
{
    if (test == 0)
        return;  // every texel passes at any scale
    std::array<std::size_t, 257> atOrAbove{};
    for (std::size_t i = 3; i < level.rgba.size(); i += 4)
        ++atOrAbove[level.rgba[i]];
    for (int a = 254; a >= 0; --a)
        atOrAbove[a] += atOrAbove[a + 1];
    // At 256 every alpha above 0 saturates.  24 halvings leave a step of
    // 1.5e-5, finer than the 0.002 between the scales at which the two
    // highest alphas reach the test.
    double lo = 0, hi = 256;
    for (int step = 0; step < 24; ++step) {
        const double mid = (lo + hi) / 2;
        (ScaledCoverage(atOrAbove, mid, test) >= coverage ? hi : lo) = mid;
    }
    auto miss = [&](double scale) { return std::abs(ScaledCoverage(atOrAbove, scale, test) - coverage); };
    double scale = miss(hi) <= miss(lo) ? hi : lo;
    if (miss(1) <= miss(scale))
        return;
    for (std::size_t i = 3; i < level.rgba.size(); i += 4)
        level.rgba[i] = ScaleAlpha(level.rgba[i], scale);
}

} // namespace

double MipAlphaCoverage(const MipPicture& picture, std::uint8_t test)
{
    std::size_t covered = 0;
    for (std::size_t i = 3; i < picture.rgba.size(); i += 4)
        covered += picture.rgba[i] >= test;
    return picture.rgba.empty() ? 0 : double(covered) / double(picture.rgba.size() / 4);
}

MipPicture MipNextLevel(const MipSettings& settings, const MipPicture& upper, double coverage)
{
    assert(upper.width > 0 && upper.height > 0 && upper.rgba.size() == std::size_t(upper.width) * upper.height * 4);
    MipPicture out{NextSide(upper.width), NextSide(upper.height), {}};
    out.rgba.resize(std::size_t(out.width) * out.height * 4);
    if (settings.mips == MipSpace::Box && settings.filter == MipFilter::Box && !settings.normalMap)
        BoxLevel(upper.rgba.data(), upper.width, upper.height, out.rgba.data());
    else
        FilterLevel(settings, upper, out);
    if (settings.alphaCoverage)
        MatchCoverage(out, coverage, settings.alphaTest);
    return out;
}

std::vector<MipPicture> MipBuildChain(const MipSettings& settings, const MipPicture& level0, UINT count)
{
    const double coverage = settings.alphaCoverage ? MipAlphaCoverage(level0, settings.alphaTest) : 0;
    std::vector<MipPicture> chain;
    for (const MipPicture* upper = &level0; count == 0 || chain.size() < count; upper = &chain.back()) {
        if (upper->width == 1 && upper->height == 1)
            break;
        MipPicture next = MipNextLevel(settings, *upper, coverage);
        chain.push_back(std::move(next));
    }
    return chain;
}

} // namespace d3dx::pixel
