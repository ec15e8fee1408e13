// mipforge-samples [--variants] <outdir>: writes the sample pictures the demo
// converts, or with --variants one small file of every reader variant.
#include "tools/samplegen.h"

#include <cstdio>
#include <cstring>
#include <exception>

int main(int argc, char** argv)
{
    const bool variants = argc == 3 && std::strcmp(argv[1], "--variants") == 0;
    if (argc != 2 && !variants) {
        std::fprintf(stderr, "usage: mipforge-samples [--variants] <outdir>\n");
        return 2;
    }
    try {
        const char* folder = argv[argc - 1];
        for (const std::string& path : variants ? samplegen::WriteVariantSet(folder) : samplegen::WriteSampleSet(folder))
            std::printf("%s\n", path.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mipforge-samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
