// The packaged encoders bench_dxt measures against, behind plain functions
// so that each peer's headers stay in one translation unit.
#pragma once

#include <cstdint>

namespace bench {

enum class Peer { SquishCluster, SquishIterative, StbNormal, StbHigh };

// Encodes a picture whose sides are multiples of 4 into DXT1 (`dxt5` false)
// or DXT5 blocks, row by row.
void PeerEncode(Peer peer, bool dxt5, const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                std::uint8_t* blocks);

} // namespace bench
