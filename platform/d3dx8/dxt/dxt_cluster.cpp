// Cluster fit: the texels, sorted along the principal axis, are split into
// runs that share a palette entry; each split has closed-form least-squares
// endpoints.  The endpoints are rounded to the 5:6:5 grid before the split
// is scored, so the score is what the block can really hold.
//
// A rough mode scores the unrounded least-squares fit of the texels'
// projections onto the axis instead, for walking a wider box cheaply before
// the rounded score decides.
//
// Four splits (eight with AVX2) are scored at once in the compiler's
// vector types, the last boundary varying across the lanes.  Every
// operation is an exactly rounded IEEE one done in the same order in every
// lane, and there are no fused multiply-adds, so the result is the same on
// any processor.  The searches themselves are in dxt_cluster_search.h; this
// file builds the table of their rough scores.
#include "platform/d3dx8/dxt/dxt_cluster_search.h"

namespace dxt::detail {

namespace {

// `squares`: X^2 / ax^2, 9 for the 4-colour mode, 4 for the 3-colour one
// (X = P[i] + P[k] = 2 ax there).
void SetRough(RoughRow& row, int lane, float a2, float b2, float ab, float squares)
{
    const float det = a2 * b2 - ab * ab;
    if (det > 1e-3f)
        row.r[lane] = 1.0f / (squares * det);
}

} // namespace

const RoughTable& GetRoughTable()
{
    // 60 KB: built on the heap rather than in the initialiser's frame, and
    // kept for the life of the process.  The rows in use lie near the
    // diagonal i = j, about a quarter of them.
    static const RoughTable* const table = [] {
        auto* t = new RoughTable;
        const float nan = __builtin_nanf("");
        auto clear = [&](RoughRow& row) {
            for (int l = 0; l < 24; ++l)
                row.r[l] = nan;
        };
        const float n = static_cast<float>(kTableTexels);
        for (int r = 0; r < kRoughRows; ++r) {
            clear(t->three[r]);
            for (int q = 0; q < kRoughRows; ++q)
                clear(t->four[r][q]);
        }
        for (int i = 0; i <= kTableTexels; ++i) {
            const float fi = static_cast<float>(i);
            RoughRow& three = t->three[i + kRoughPad];
            for (int k = i; k <= kTableTexels; ++k) {
                const float fk = static_cast<float>(k);
                SetRough(three, k, (3 * fi + fk) * 0.25f, n - (fi + fk * 3.0f) * 0.25f, (fk - fi) * 0.25f, 4.0f);
            }
            for (int j = i; j <= kTableTexels; ++j) {
                RoughRow& four = t->four[i + kRoughPad][j + kRoughPad];
                const float fj = static_cast<float>(j);
                for (int k = j; k <= kTableTexels; ++k) {
                    const float fk = static_cast<float>(k);
                    SetRough(four, k, (5 * fi + 3 * fj + fk) * (1.0f / 9.0f),
                             n - (fi + 3 * fj + fk * 5.0f) * (1.0f / 9.0f), (fk - fi) * (2.0f / 9.0f), 9.0f);
                }
            }
        }
        return t;
    }();
    return *table;
}

} // namespace dxt::detail
