// Helpers shared by the test suites.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testutil {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct RunResult {
    int status = -1;       // exit status (0-255), or -1 when killed by a signal
    int signal = 0;        // the signal that ended it, if any
    std::string output;    // standard output and standard error, interleaved
};

// How the child's standard output is attached: read to its end, closed
// before the program starts, or a pipe whose reader goes away after the
// first byte (standard error stays on the pipe in every case).
enum class Console { Read, Closed, FirstByteOnly };

// Runs a program with the given arguments (argv[0] is `program`) in `cwd`,
// with extra environment settings "NAME=value", no standard input, and waits
// for it.  Ends it after `timeoutSeconds`.
RunResult Run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
              const std::vector<std::string>& env = {}, int timeoutSeconds = 120, Console console = Console::Read);

// The real converter binary, run in `cwd`.
RunResult RunMipforge(const std::vector<std::string>& args, const std::string& cwd,
                      const std::vector<std::string>& env = {}, Console console = Console::Read);

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const void* data, size_t size);
inline void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    WriteFile(path, bytes.data(), bytes.size());
}
void WriteText(const std::filesystem::path& path, const std::string& text);

// The six usage lines every converter run prints first.
extern const char* const kUsageText;

// PNG files built or damaged by hand: the CRC a chunk carries (over its
// type and body), and a whole chunk (length, type, body, CRC) appended.
std::uint32_t PngCrc(const std::uint8_t* data, std::size_t size);
void AppendPngChunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& body);

} // namespace testutil
