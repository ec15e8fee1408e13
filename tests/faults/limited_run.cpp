#include "tests/faults/limited_run.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace faults {

bool UnderAddressSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

LimitedResult RunMipforgeLimited(const std::vector<std::string>& args, const std::string& cwd, const Limits& limits)
{
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> store{MIPFORGE_EXE};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : store)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(pipefd[1], 1);
        ::dup2(pipefd[1], 2);
        if (limits.addressSpace != 0) {
            const rlimit r{limits.addressSpace, limits.addressSpace};
            ::setrlimit(RLIMIT_AS, &r);
        }
        if (limits.fileSize != 0) {
            // Ignored, the signal turns into EFBIG from write(), which is
            // what a full disk looks like to the writer (ENOSPC aside).
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit r{limits.fileSize, limits.fileSize};
            ::setrlimit(RLIMIT_FSIZE, &r);
        }
        if (::chdir(cwd.c_str()) != 0)
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipefd[1]);

    LimitedResult result;
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    char buf[4096];
    for (;;) {
        pollfd p{pipefd[0], POLLIN, 0};
        if (::poll(&p, 1, 200) > 0) {
            const ssize_t n = ::read(pipefd[0], buf, sizeof buf);
            if (n <= 0)
                break;
            result.output.append(buf, static_cast<size_t>(n));
        }
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec > limits.timeoutSeconds) {
            ::kill(pid, SIGKILL);
            break;
        }
    }
    ::close(pipefd[0]);
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    result.peakRssKiB = usage.ru_maxrss;
    return result;
}

SmallTmpfs::SmallTmpfs(const std::string& where, std::uint64_t bytes, bool readOnly) : where_(where)
{
    ::mkdir(where.c_str(), 0755);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) == 0;
}

SmallTmpfs::~SmallTmpfs()
{
    if (mounted_)
        ::umount2(where_.c_str(), MNT_DETACH);
}

} // namespace faults
