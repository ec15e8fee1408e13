// Tables derived from the decoding rules, built once on first use.
#include "dxt_internal.h"

#include <cstdlib>

namespace dxt::detail {

namespace {

int Expand(int bits6, int code) { return bits6 ? Expand6(code) : Expand5(code); }

// For every value, among the endpoint pairs whose blend is closest to it,
// the one with the closest endpoints (a tight pair keeps nearby texels
// close too), the first in (e0, e1) order among equals.  Each pair is
// blended once; each value then looks outwards for the nearest blends.
template <class Blend>
void BestPairs(int bits6, Blend blend, SingleFit out[256])
{
    const int codes = bits6 ? 64 : 32;
    struct Pair {
        int spread = 256;  // 256: no pair blends to this value
        std::uint8_t e0 = 0, e1 = 0;
    };
    Pair byBlend[256];
    for (int e0 = 0; e0 < codes; ++e0)
        for (int e1 = 0; e1 < codes; ++e1) {
            const int x0 = Expand(bits6, e0), x1 = Expand(bits6, e1);
            Pair& p = byBlend[blend(x0, x1)];
            const int spread = std::abs(x0 - x1);
            if (spread < p.spread)
                p = {spread, static_cast<std::uint8_t>(e0), static_cast<std::uint8_t>(e1)};
        }
    for (int v = 0; v < 256; ++v) {
        for (int d = 0; d < 256; ++d) {
            const Pair* pick = nullptr;
            for (const int b : {v - d, v + d}) {
                if (b < 0 || b > 255 || byBlend[b].spread == 256)
                    continue;
                const Pair& p = byBlend[b];
                // Equal spreads: the pair met first in (e0, e1) order.
                if (!pick || p.spread < pick->spread ||
                    (p.spread == pick->spread && (p.e0 < pick->e0 || (p.e0 == pick->e0 && p.e1 < pick->e1))))
                    pick = &p;
            }
            if (pick) {
                out[v] = {pick->e0, pick->e1, static_cast<std::uint8_t>(d)};
                break;
            }
        }
    }
}

} // namespace

void BuildTables(Tables& t)
{
    for (int bits6 = 0; bits6 < 2; ++bits6) {
        BestPairs(bits6, [](int a, int b) { return (2 * a + b + 1) / 3; }, t.third[bits6]);
        BestPairs(bits6, [](int a, int b) { return (a + b + 1) / 2; }, t.half[bits6]);
        for (int v = 0; v < 256; ++v) {
            int bestCode = 0;
            for (int code = 1; code < (bits6 ? 64 : 32); ++code)
                if (std::abs(Expand(bits6, code) - v) < std::abs(Expand(bits6, bestCode) - v))
                    bestCode = code;
            t.nearest[bits6][v] = static_cast<std::uint8_t>(bestCode);
        }
    }
}

const Tables& GetTables()
{
    static const Tables tables = [] {
        Tables t{};
        BuildTables(t);
        return t;
    }();
    return tables;
}

} // namespace dxt::detail
