// A stand-in for the converter in the editor's tests.  What it does is set
// by the environment:
//   FAKE_CONVERTER_ARGS=<file>   write the arguments there, one per line
//   FAKE_CONVERTER_LINES=<n>     print n numbered lines (default 2)
//   FAKE_CONVERTER_SLEEP_MS=<n>  sleep between the lines and before ending
//   FAKE_CONVERTER_EXIT=<n>      exit status (default 0)
//   FAKE_CONVERTER_CRASH=1       end by abort()
//   FAKE_CONVERTER_FAIL=<text>   print the text, write nothing, exit 1
//                                (unless FAKE_CONVERTER_EXIT says otherwise)
// For "-single" it writes a 4 x 4 A8R8G8B8 DDS file with three levels to
// the last argument, so that the preview has something to show.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

namespace {

int envInt(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}

void writeSmallDds(const char* path)
{
    std::vector<std::uint8_t> f;
    put32(f, 0x20534444);
    const std::uint32_t header[31] = {124, 0x2100F, 4, 4, 16, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                      32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0x401008, 0, 0, 0, 0};
    for (std::uint32_t v : header)
        put32(f, v);
    for (int level = 0, side = 4; level < 3; ++level, side /= 2)
        for (int i = 0; i < side * side; ++i)
            put32(f, level == 0 ? 0xFFFF0000u : level == 1 ? 0xFF00FF00u : 0xFF0000FFu);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (const char* argsFile = std::getenv("FAKE_CONVERTER_ARGS")) {
        std::ofstream out(argsFile);
        for (int i = 1; i < argc; ++i)
            out << argv[i] << '\n';
    }
    const int lines = envInt("FAKE_CONVERTER_LINES", 2);
    const int sleepMs = envInt("FAKE_CONVERTER_SLEEP_MS", 0);
    for (int i = 1; i <= lines; ++i) {
        std::printf("fake converter line %d\n", i);
        std::fflush(stdout);
        if (sleepMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
    }
    if (const char* failure = std::getenv("FAKE_CONVERTER_FAIL")) {
        std::printf("%s\n", failure);
        return envInt("FAKE_CONVERTER_EXIT", 1);
    }
    if (argc >= 6 && std::strcmp(argv[1], "-single") == 0)
        writeSmallDds(argv[5]);
    if (envInt("FAKE_CONVERTER_CRASH", 0))
        std::abort();
    return envInt("FAKE_CONVERTER_EXIT", 0);
}
