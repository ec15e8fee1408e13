// Running the converter as a child under resource limits, and reading what
// it used: the fault tests need a full disk without root (a file-size
// limit), a bounded address space, and the child's peak memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace faults {

struct Limits {
    std::uint64_t addressSpace = 0;  // RLIMIT_AS in bytes; 0 leaves it alone
    std::uint64_t fileSize = 0;      // RLIMIT_FSIZE in bytes (SIGXFSZ ignored); 0 leaves it alone
    int timeoutSeconds = 600;
};

struct LimitedResult {
    int status = -1;       // exit status, or -1 when a signal ended it
    int signal = 0;
    std::string output;    // standard output and error
    long peakRssKiB = 0;   // the child's peak resident set
};

// Runs the real converter with `args` in `cwd` under `limits`.
LimitedResult RunMipforgeLimited(const std::vector<std::string>& args, const std::string& cwd, const Limits& limits);

// True when this build carries AddressSanitizer, whose shadow memory does
// not fit under an address-space limit.
bool UnderAddressSanitizer();

// A small tmpfs mounted on a fresh folder for the life of the object, when
// the process may mount (root with the capability); mounted() says whether
// it worked.
class SmallTmpfs {
public:
    SmallTmpfs(const std::string& where, std::uint64_t bytes, bool readOnly = false);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::string where_;
    bool mounted_ = false;
};

} // namespace faults
