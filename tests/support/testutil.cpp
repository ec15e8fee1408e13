#include "tests/support/testutil.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace testutil {

const char* const kUsageText =
    "Mipforge.exe -noise <Source Tga file> <Dest dds file> <alpha decrease by miplevel>\n"
    "Mipforge.exe <InDir> <extention> <OutDir>\n"
    "Mipforge.exe -complex <InDir> <extention> <CDDS FileName>\n"
    "Mipforge.exe -dump <CDDS FileName> <OutDir>\n"
    "Mipforge.exe -single FileName format mip outfilename\n"
    "Mipforge.exe -xml <Project FileName> <CDDS FileName>\n";

TempDir::TempDir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "mipforge-test-XXXXXX").string();
    if (!::mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Tests may leave read-only folders behind; make them writable first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

RunResult Run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
              const std::vector<std::string>& env, int timeoutSeconds, Console console)
{
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");

    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e)
        envStore.emplace_back(*e);
    for (const std::string& setting : env) {
        std::string name = setting.substr(0, setting.find('=') + 1);
        std::erase_if(envStore, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
        envStore.push_back(setting);
    }
    std::vector<char*> envp;
    for (std::string& s : envStore)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argStore)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(pipefd[1], 1);
        ::dup2(pipefd[1], 2);
        if (console == Console::Closed)
            ::close(1);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
            ::_exit(126);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipefd[1]);

    RunResult result;
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    char buf[4096];
    for (;;) {
        pollfd p{pipefd[0], POLLIN, 0};
        int r = ::poll(&p, 1, 200);
        if (r > 0) {
            ssize_t n = ::read(pipefd[0], buf, sizeof buf);
            if (n <= 0)
                break;
            result.output.append(buf, static_cast<size_t>(n));
            if (console == Console::FirstByteOnly) {
                // Whatever the child writes from now on meets a closed pipe.
                result.output.resize(1);
                break;
            }
        }
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec > timeoutSeconds) {
            ::kill(pid, SIGKILL);
            break;
        }
    }
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

RunResult RunMipforge(const std::vector<std::string>& args, const std::string& cwd,
                      const std::vector<std::string>& env, Console console)
{
    return Run(MIPFORGE_EXE, args, cwd, env, 120, console);
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadText(const std::filesystem::path& path)
{
    std::vector<std::uint8_t> bytes = ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

void WriteFile(const std::filesystem::path& path, const void* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void WriteText(const std::filesystem::path& path, const std::string& text) { WriteFile(path, text.data(), text.size()); }

std::uint32_t PngCrc(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        c ^= data[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

void AppendPngChunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& body)
{
    auto putBe32 = [&](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            png.push_back(static_cast<std::uint8_t>(v >> shift));
    };
    putBe32(static_cast<std::uint32_t>(body.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    putBe32(PngCrc(png.data() + start, png.size() - start));
}

} // namespace testutil
