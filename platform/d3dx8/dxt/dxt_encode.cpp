// Block and image entry points: split a block into its colour and alpha
// parts and hand them to the part encoders.
#include "dxt_internal.h"

#include <algorithm>
#include <cstring>

namespace dxt {

using namespace detail;

namespace {

// Writes the alpha part of a block and returns the request for its colour
// part, which goes at block + ColourOffset(format).  Where `premultiply`
// (DXT2 and DXT4, looked up once by the caller) colour is premultiplied
// into `premultiplied`, which the request then points to.
ColourRequest PrepareBlock(D3DFORMAT format, bool premultiply, const std::uint8_t rgba[64], std::uint8_t* block,
                           const EncodeOptions& options, const Kernels& kernels, std::uint8_t premultiplied[64])
{
    const std::uint16_t valid = options.validMask;
    ColourRequest request{rgba, valid, 0, false, options.quality, options.weights, &kernels};
    if (format == D3DFMT_DXT1) {
        const std::uint16_t transparent = static_cast<std::uint16_t>(valid & ~kernels.opaqueBits(rgba));
        request.active = static_cast<std::uint16_t>(valid & ~transparent);
        request.transparent = transparent;
        request.dxt1 = true;
        return request;
    }
    if (premultiply) {
        for (int i = 0; i < 16; ++i) {
            const std::uint8_t* p = rgba + 4 * i;
            for (int ch = 0; ch < 3; ++ch)
                premultiplied[4 * i + ch] = static_cast<std::uint8_t>(Premultiply(p[ch], p[3]));
            premultiplied[4 * i + 3] = p[3];
        }
        request.rgba = premultiplied;
    }
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3)
        EncodeAlphaExplicit(rgba, valid, block);
    else
        EncodeAlphaInterpolated(rgba, valid, options.quality, kernels, block);
    return request;
}

// The colour part follows the alpha part.
unsigned ColourOffset(D3DFORMAT format) { return format == D3DFMT_DXT1 ? 0 : 8; }

} // namespace

void EncodeBlock(D3DFORMAT format, const std::uint8_t rgba[64], std::uint8_t* block, const EncodeOptions& options)
{
    if (BlockBytes(format) == 0)
        return;
    std::uint8_t premultiplied[64];
    const PathCode& code = ActiveCode();
    code.encodeColour(PrepareBlock(format, IsPremultiplied(format), rgba, block, options, *code.kernels, premultiplied),
                      block + ColourOffset(format));
}

void EncodeBlocks(D3DFORMAT format, int count, const std::uint8_t* const rgba[], std::uint8_t* const blocks[],
                  const EncodeOptions& options)
{
    if (BlockBytes(format) == 0)
        return;
    const PathCode& code = ActiveCode();
    const bool premultiply = IsPremultiplied(format);
    for (int first = 0; first < count; first += kColourBatch) {
        const int n = std::min(count - first, kColourBatch);
        std::uint8_t premultiplied[kColourBatch][64];
        ColourRequest requests[kColourBatch];
        std::uint8_t* colour[kColourBatch];
        for (int k = 0; k < n; ++k) {
            requests[k] =
                PrepareBlock(format, premultiply, rgba[first + k], blocks[first + k], options, *code.kernels,
                             premultiplied[k]);
            colour[k] = blocks[first + k] + ColourOffset(format);
        }
        code.encodeColours(requests, n, colour);
    }
}

double EncodeBlockWithError(D3DFORMAT format, const std::uint8_t rgba[64], std::uint8_t* block,
                            const EncodeOptions& options)
{
    EncodeBlock(format, rgba, block, options);
    if (BlockBytes(format) == 0)
        return 0;
    std::uint8_t decoded[64];
    DecodeBlock(format, block, decoded);
    const int channels = format == D3DFMT_DXT1 ? 3 : 4;
    double error = 0;
    for (int i = 0; i < 16; ++i) {
        if (!(options.validMask >> i & 1))
            continue;
        for (int ch = 0; ch < channels; ++ch) {
            const int d = rgba[4 * i + ch] - decoded[4 * i + ch];
            error += d * d;
        }
    }
    return error;
}

namespace {

// Whether the 4x4 texels at `a` and `b` (rows `pitch` bytes apart) are the
// same: one test of the four rows' differences.
bool SameTexels(const std::uint8_t* a, const std::uint8_t* b, std::size_t pitch)
{
    typedef std::uint64_t Row __attribute__((vector_size(16)));
    Row differ{};
    for (int y = 0; y < 4; ++y) {
        Row ra, rb;
        std::memcpy(&ra, a + y * pitch, sizeof ra);
        std::memcpy(&rb, b + y * pitch, sizeof rb);
        differ |= ra ^ rb;
    }
    return (differ[0] | differ[1]) == 0;
}

} // namespace

void EncodeImage(D3DFORMAT format, const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                 std::size_t pitch, std::uint8_t* blocks, std::size_t blockPitch, const EncodeOptions& options)
{
    const unsigned bytes = BlockBytes(format);
    if (bytes == 0)
        return;
    // Whole blocks go in runs of kColourBatch, along the rows and from one
    // row to the next, so that they share work even in narrow pictures;
    // the caller's validMask is not theirs (every texel exists).  A block
    // equal to its left or upper neighbour takes that block's bytes, as the
    // encoder gives equal texels equal bytes: flat areas, borders and
    // transparent surrounds cost a comparison.
    EncodeOptions whole = options;
    whole.validMask = 0xFFFF;
    std::uint8_t texels[kColourBatch][64];
    const std::uint8_t* run[kColourBatch];
    std::uint8_t* out[kColourBatch];
    for (int k = 0; k < kColourBatch; ++k)
        run[k] = texels[k];
    // Copies waiting for their source block's run to be encoded, in order.
    struct Copy {
        std::uint8_t* to;
        const std::uint8_t* from;
    };
    Copy copies[2 * kColourBatch];
    int n = 0, pending = 0;
    auto flush = [&] {
        if (n != 0)
            EncodeBlocks(format, n, run, out, whole);
        // Blocks of 8 or 16 bytes: copies of a known size, without a call.
        for (int c = 0; c < pending; ++c) {
            if (bytes == 8)
                std::memcpy(copies[c].to, copies[c].from, 8);
            else
                std::memcpy(copies[c].to, copies[c].from, 16);
        }
        n = pending = 0;
    };
    for (std::uint32_t by = 0; by < (height + 3) / 4; ++by) {
        std::uint8_t* row = blocks + static_cast<std::size_t>(by) * blockPitch;
        const std::uint32_t h = std::min<std::uint32_t>(4, height - 4 * by);
        const std::uint8_t* source = rgba + static_cast<std::size_t>(4 * by) * pitch;
        const std::uint32_t columns = (width + 3) / 4, wholeColumns = h == 4 ? width / 4 : 0;
        for (std::uint32_t bx = 0; bx < wholeColumns; ++bx) {
            const std::uint8_t* at = source + 16 * std::size_t{bx};
            std::uint8_t* to = row + static_cast<std::size_t>(bx) * bytes;
            const std::uint8_t* from = nullptr;
            if (bx != 0 && SameTexels(at, at - 16, pitch))
                from = to - bytes;
            else if (by != 0 && SameTexels(at, at - 4 * pitch, pitch))
                from = to - blockPitch;
            if (from) {
                copies[pending++] = {to, from};
            } else {
                for (std::uint32_t y = 0; y < 4; ++y)
                    std::memcpy(texels[n] + 16 * y, at + y * pitch, 16);
                out[n++] = to;
            }
            if (n == kColourBatch || pending == 2 * kColourBatch)
                flush();
        }
        // Blocks on the right and bottom edges, from the texels they have;
        // no copy reads them.
        for (std::uint32_t bx = wholeColumns; bx < columns; ++bx) {
            const std::uint32_t w = std::min<std::uint32_t>(4, width - 4 * bx);
            EncodeOptions local = options;
            local.validMask = 0;
            std::uint8_t edge[64] = {};
            for (std::uint32_t y = 0; y < h; ++y) {
                std::memcpy(edge + 16 * y, source + y * pitch + 16 * std::size_t{bx}, 4 * w);
                local.validMask = static_cast<std::uint16_t>(local.validMask | (((1u << w) - 1) << (4 * y)));
            }
            EncodeBlock(format, edge, row + static_cast<std::size_t>(bx) * bytes, local);
        }
    }
    flush();
}

} // namespace dxt
