#include "fuzz/fuzz_file.h"

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

const std::string& FuzzInputFile(const std::uint8_t* data, std::size_t size, const char* suffix)
{
    static const std::string base = [] {
        const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/mipforge-fuzz-" + std::to_string(::getpid());
    }();
    static std::string path;
    path = base + suffix;
    std::remove(path.c_str());
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size != 0 && std::fwrite(data, 1, size, f) != size)
            std::abort();
        std::fclose(f);
    }
    return path;
}
