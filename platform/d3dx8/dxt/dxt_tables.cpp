// Tables derived from the decoding rules, built once on first use.
#include "dxt_internal.h"

#include <cstdlib>

namespace dxt::detail {

namespace {

int Expand(int bits6, int code) { return bits6 ? Expand6(code) : Expand5(code); }

// Among the endpoint pairs whose blend is closest to `value`, the one with
// the closest endpoints: a tight pair keeps nearby texels close too.
template <class Blend>
SingleFit BestPair(int bits6, int value, Blend blend)
{
    const int codes = bits6 ? 64 : 32;
    SingleFit best{0, 0, 255};
    int bestSpread = 256;
    for (int e0 = 0; e0 < codes; ++e0) {
        for (int e1 = 0; e1 < codes; ++e1) {
            const int x0 = Expand(bits6, e0), x1 = Expand(bits6, e1);
            const int error = std::abs(blend(x0, x1) - value);
            const int spread = std::abs(x0 - x1);
            if (error < best.error || (error == best.error && spread < bestSpread)) {
                best = {static_cast<std::uint8_t>(e0), static_cast<std::uint8_t>(e1),
                        static_cast<std::uint8_t>(error)};
                bestSpread = spread;
            }
        }
    }
    return best;
}

} // namespace

void BuildTables(Tables& t)
{
    for (int bits6 = 0; bits6 < 2; ++bits6) {
        for (int v = 0; v < 256; ++v) {
            t.third[bits6][v] = BestPair(bits6, v, [](int a, int b) { return (2 * a + b + 1) / 3; });
            t.half[bits6][v] = BestPair(bits6, v, [](int a, int b) { return (a + b + 1) / 2; });
            int bestCode = 0;
            for (int code = 1; code < (bits6 ? 64 : 32); ++code)
                if (std::abs(Expand(bits6, code) - v) < std::abs(Expand(bits6, bestCode) - v))
                    bestCode = code;
            t.nearest[bits6][v] = static_cast<std::uint8_t>(bestCode);
            t.grid[bits6][v] = static_cast<float>(Expand(bits6, bestCode));
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
