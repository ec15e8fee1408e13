// mipforge-samples <outdir>: writes the sample pictures the demo converts.
#include "samplegen.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mipforge-samples <outdir>\n");
        return 2;
    }
    try {
        for (const std::string& name : samplegen::WriteSampleSet(argv[1]))
            std::printf("%s/%s\n", argv[1], name.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mipforge-samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
