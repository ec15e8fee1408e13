// Placeholder until the block codec lands: decodes nothing, encodes zeros.
#include "dxt.h"

#include <cstring>

namespace dxt {
unsigned BlockBytes(D3DFORMAT format) { return format == D3DFMT_DXT1 ? 8 : 16; }
void DecodeBlock(D3DFORMAT, const std::uint8_t*, std::uint8_t rgba[64]) { std::memset(rgba, 0, 64); }
void EncodeBlock(D3DFORMAT format, const std::uint8_t*, std::uint8_t* block, const EncodeOptions&)
{
    std::memset(block, 0, BlockBytes(format));
}
double EncodeBlockWithError(D3DFORMAT format, const std::uint8_t rgba[64], std::uint8_t* block,
                            const EncodeOptions& options)
{
    EncodeBlock(format, rgba, block, options);
    return 0;
}
} // namespace dxt
