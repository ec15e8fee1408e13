#include "bench/peers.h"

#include <squish.h>

#include <cstring>

#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>

namespace bench {

void PeerEncode(Peer peer, bool dxt5, const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                std::uint8_t* blocks)
{
    if (peer == Peer::SquishCluster || peer == Peer::SquishIterative) {
        const int flags = (dxt5 ? squish::kDxt5 : squish::kDxt1) |
                          (peer == Peer::SquishCluster ? squish::kColourClusterFit : squish::kColourIterativeClusterFit);
        // Uniform channel weights: the benchmark scores plain RGB(A) PSNR.
        squish::CompressImage(rgba, static_cast<int>(width), static_cast<int>(height), blocks, flags, nullptr);
        return;
    }
    const int mode = peer == Peer::StbHigh ? STB_DXT_HIGHQUAL : STB_DXT_NORMAL;
    const std::size_t bytes = dxt5 ? 16 : 8;
    unsigned char texels[64];
    for (std::uint32_t by = 0; by < height / 4; ++by)
        for (std::uint32_t bx = 0; bx < width / 4; ++bx) {
            for (int y = 0; y < 4; ++y)
                std::memcpy(texels + 16 * y, rgba + ((std::size_t{by} * 4 + y) * width + bx * 4) * 4, 16);
            stb_compress_dxt_block(blocks, texels, dxt5 ? 1 : 0, mode);
            blocks += bytes;
        }
}

} // namespace bench
