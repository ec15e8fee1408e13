// The pictures the benchmarks measure on: image files from folders, and
// pictures generated here so a benchmark runs without any download; and the
// clock they time with.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bench {

struct Picture {
    std::string name;
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgba;  // width * height texels, RGBA
    bool opaque = true;              // every alpha is 255
};

// A sample of the PNG, JPEG, TGA and BMP files under `folder` (searched
// recursively), as RGBA: files are taken in an order fixed by a hash of
// their paths until `maxPixels` is reached, so a large package gives a
// spread of its pictures rather than its first folder.  Pictures larger
// than 1024 x 1024 keep their top-left 1024 x 1024; sides are cropped to
// multiples of 4 and pictures under 4 x 4 are left out.  Files that fail to
// load are reported on stderr and skipped.
std::vector<Picture> LoadPictures(const std::string& folder, double maxPixels);

// The corpora to read, as (name, folder): each argument is name=folder, or
// a folder named after its last component.  Without arguments, the Debian
// texture packages that bench/install-corpus.sh and
// bench/install-realworld.sh install, those present (`program` names the
// benchmark in the message when none is).
std::vector<std::pair<std::string, std::string>> CorpusFolders(const std::vector<std::string>& args,
                                                               const char* program);

// The options the corpus benchmarks share: --reps N (the timing batches
// per picture) and --max-mpix M (the sample of each folder).
struct CorpusOptions {
    int reps = 3;
    double maxMpix = 4;
};
// True when argv[i] is one of them; i then steps past its value.
bool TakeCorpusOption(int argc, char** argv, int& i, CorpusOptions& options);

// CPU time of the calling thread, in seconds: the machine is shared, and
// time spent waiting for a core is not the measured code's.
double ThreadSeconds();

// Generated pictures: value-noise terrain, hard-edged shapes, soft
// gradients, and cut-outs with alpha.
std::vector<Picture> GeneratedPictures();

} // namespace bench
