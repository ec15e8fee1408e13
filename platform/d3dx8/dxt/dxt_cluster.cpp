// Cluster fit: the texels, sorted along the principal axis, are split into
// runs that share a palette entry; each split has closed-form least-squares
// endpoints.  The endpoints are rounded to the 5:6:5 grid before the split
// is scored, so the score is what the block can really hold.
//
// Four splits are scored at once in the compiler's vector types (the
// last boundary varies across the lanes).  Every operation is an exactly
// rounded IEEE one done in the same order in every lane, and there are no
// fused multiply-adds, so the result is the same on any processor.
#include "dxt_internal.h"

#include <algorithm>

namespace dxt::detail {

namespace {

typedef float F4 __attribute__((vector_size(16)));
typedef std::int32_t I4 __attribute__((vector_size(16)));

constexpr float kInvalid = 3.0e38f;
constexpr int kLanes = 4;

inline F4 Splat(float v) { return F4{v, v, v, v}; }

inline F4 Load(const float* p)
{
    F4 v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

// Rounds endpoint values to the grid of a 5- or 6-bit channel; returns the
// codes and their 8-bit expansions.
inline void Quantise(F4 v, bool bits6, I4& code, F4& expanded)
{
    const F4 zero = Splat(0.0f), top = Splat(255.0f);
    v = v < zero ? zero : v;
    v = v > top ? top : v;
    code = __builtin_convertvector(v * Splat(bits6 ? 63.0f / 255.0f : 31.0f / 255.0f) + Splat(0.5f), I4);
    const I4 e = bits6 ? (code << 2) | (code >> 4) : (code << 3) | (code >> 2);
    expanded = __builtin_convertvector(e, F4);
}

struct Scored {
    F4 error;
    I4 codeA[3], codeB[3];
};

// Scores the splits whose lane-varying boundary runs from `first` to
// first + 3.  4-colour: boundaries (i, j, lane); 3-colour: (i, lane).
// Lanes past `last` are marked invalid.
inline Scored ScoreLanes(const ClusterInput& in, bool four, int i, int j, int first, int last)
{
    const F4 lane = F4{0, 1, 2, 3} + Splat(static_cast<float>(first));
    const float fi = static_cast<float>(i), fj = static_cast<float>(j), n = static_cast<float>(in.n);
    F4 a2, b2, ab;
    if (four) {
        a2 = (Splat(5 * fi + 3 * fj) + lane) * Splat(1.0f / 9.0f);
        b2 = Splat(n) - (Splat(fi + 3 * fj) + lane * Splat(5.0f)) * Splat(1.0f / 9.0f);
        ab = (lane - Splat(fi)) * Splat(2.0f / 9.0f);
    } else {
        a2 = (Splat(3 * fi) + lane) * Splat(0.25f);
        b2 = Splat(n) - (Splat(fi) + lane * Splat(3.0f)) * Splat(0.25f);
        ab = (lane - Splat(fi)) * Splat(0.25f);
    }
    const F4 det = a2 * b2 - ab * ab;
    const auto valid = (det > Splat(1e-3f)) & (lane <= Splat(static_cast<float>(last)));
    const F4 inv = valid ? Splat(1.0f) / det : Splat(0.0f);

    Scored s;
    F4 error = Splat(0.0f);
    for (int ch = 0; ch < 3; ++ch) {
        const float* p = in.prefix[ch];
        F4 ax;
        if (four)
            ax = (Splat(p[i] + p[j]) + Load(p + first)) * Splat(1.0f / 3.0f);
        else
            ax = (Splat(p[i]) + Load(p + first)) * Splat(0.5f);
        const F4 bx = Splat(p[in.n]) - ax;
        F4 qa, qb;
        Quantise((ax * b2 - bx * ab) * inv, ch == 1, s.codeA[ch], qa);
        Quantise((bx * a2 - ax * ab) * inv, ch == 1, s.codeB[ch], qb);
        const F4 e = qa * qa * a2 + qb * qb * b2 + Splat(2.0f) * (qa * qb * ab - qa * ax - qb * bx);
        error = error + Splat(in.weight[ch]) * e;
    }
    s.error = valid ? error : Splat(kInvalid);
    return s;
}

} // namespace

ClusterResult SearchSplits(const ClusterInput& in, bool four, const int lo[3], const int hi[3])
{
    ClusterResult best;
    best.error = kInvalid;
    const int n = in.n;
    auto take = [&](const Scored& s, int i, int j, int first) {
        for (int l = 0; l < kLanes; ++l) {
            if (!(s.error[l] < best.error))
                continue;
            best.error = s.error[l];
            best.split[0] = i;
            best.split[1] = four ? j : first + l;
            best.split[2] = four ? first + l : first + l;
            best.ends[0] = Pack565(s.codeA[0][l], s.codeA[1][l], s.codeA[2][l]);
            best.ends[1] = Pack565(s.codeB[0][l], s.codeB[1][l], s.codeB[2][l]);
        }
    };
    for (int i = std::max(lo[0], 0); i <= std::min(hi[0], n); ++i) {
        const int jFirst = std::max(lo[1], i), jLast = std::min(hi[1], n);
        if (!four) {
            for (int j = jFirst; j <= jLast; j += kLanes)
                take(ScoreLanes(in, false, i, 0, j, jLast), i, 0, j);
            continue;
        }
        for (int j = jFirst; j <= jLast; ++j) {
            const int kFirst = std::max(lo[2], j), kLast = std::min(hi[2], n);
            for (int k = kFirst; k <= kLast; k += kLanes)
                take(ScoreLanes(in, true, i, j, k, kLast), i, j, k);
        }
    }
    return best;
}

} // namespace dxt::detail
