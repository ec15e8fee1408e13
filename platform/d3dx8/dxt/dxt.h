// The DXT (BC1-BC3) block codec.
//
// Pixels are 16 RGBA8 texels of one 4x4 block, row by row, 4 bytes each in
// the order red, green, blue, alpha (64 bytes).  Blocks are 8 bytes (DXT1)
// or 16 bytes (DXT2-DXT5), little-endian as stored in DDS files.
//
// Decoding follows the Direct3D reference rules for the interpolated colours
// and alphas.  DXT2 and DXT4 store colour premultiplied by alpha: the
// encoder premultiplies, the decoder returns straight (un-premultiplied)
// colour.
//
// All functions are pure and thread-safe; the same input gives the same
// bytes on every machine and every path (scalar or vector).
#pragma once

#include "platform/d3d8/d3d8types.h"

#include <cstddef>
#include <cstdint>

namespace dxt {

// Bytes of one block of `format` (8 or 16), 0 for a non-DXT format.
unsigned BlockBytes(D3DFORMAT format);

void DecodeBlock(D3DFORMAT format, const std::uint8_t* block, std::uint8_t rgba[64]);

enum class Quality : std::uint8_t {
    Fast,     // for previews: principal axis and one least-squares refit
    Normal,   // the converter's default: adds a cluster fit over the splits
              // near the axis and the DXT1 3-colour mode; a few times slower
    Highest,  // every split and Normal's fits, then endpoint nudging (so no
              // colour block worse than Normal's); several times slower again
              // (bench/README.md holds today's speeds)
};

struct EncodeOptions {
    Quality quality = Quality::Normal;
    // Texels that exist: bit (y * 4 + x).  Levels smaller than 4x4 fill
    // only part of a block; the other texels do not influence the result.
    std::uint16_t validMask = 0xFFFF;
    // Per-channel weights of the colour error (red, green, blue).
    float weights[3] = {1.0f, 1.0f, 1.0f};
};

// Encodes one block.  DXT1: a texel with alpha below 128 becomes transparent
// black (3-colour block, index 3); an opaque texel never gets index 3.
void EncodeBlock(D3DFORMAT format, const std::uint8_t rgba[64], std::uint8_t* block,
                 const EncodeOptions& options = {});

// Encodes `count` blocks: the same bytes as EncodeBlock gives each, in less
// time, as whole blocks share part of the work, kBlocksPerRun at a time
// (runs of a multiple of it gain the most).  rgba[k] is block k's texels,
// blocks[k] where its bytes go.
constexpr int kBlocksPerRun = 8;
void EncodeBlocks(D3DFORMAT format, int count, const std::uint8_t* const rgba[], std::uint8_t* const blocks[],
                  const EncodeOptions& options = {});

// Expert entry: also returns the block's squared error over the valid texels
// (sum over R, G, B, and A for formats that store alpha) as decoded.
double EncodeBlockWithError(D3DFORMAT format, const std::uint8_t rgba[64], std::uint8_t* block,
                            const EncodeOptions& options);

// Whole images.  `rgba` holds width x height texels RGBA, rows `pitch` bytes
// apart; `blocks` receives ceil(width/4) x ceil(height/4) blocks, block rows
// `blockPitch` bytes apart.  Blocks at the right and bottom edges are
// encoded from the texels they have (options.validMask is ignored).
void EncodeImage(D3DFORMAT format, const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                 std::size_t pitch, std::uint8_t* blocks, std::size_t blockPitch, const EncodeOptions& options = {});
// The inverse: writes the texels that exist (width x height) into `rgba`.
void DecodeImage(D3DFORMAT format, const std::uint8_t* blocks, std::size_t blockPitch, std::uint32_t width,
                 std::uint32_t height, std::uint8_t* rgba, std::size_t pitch);

// The encoder's inner loops exist as a scalar path and vector paths.  Auto
// picks the fastest one the processor has; the others are for tests and
// benchmarks.  Every path gives the same bytes.  Process-wide setting;
// returns false (and keeps the current path) when the processor lacks it.
enum class Path : std::uint8_t { Auto, Scalar, Sse2, Avx2 };
bool SetPath(Path path);
// The path in use (never Auto).
Path ActivePath();

} // namespace dxt
