#include "platform/win32/win32.h"

#include <cctype>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace win32 {

void CharToOemA(const char* src, char* dst)
{
    if (src != dst)
        std::strcpy(dst, src);
}

void OutputDebugStringA(const char*) {}

bool CreateDirectoryA(const char* path) { return path && ::mkdir(FolderPath(path).c_str(), 0777) == 0; }

static unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

namespace {

bool MatchPlain(const char* pattern, const char* name)
{
    // Iterative matcher with one backtrack point for the last "*".
    const char* starP = nullptr;
    const char* starN = nullptr;
    while (*name) {
        if (*pattern == '*') {
            starP = ++pattern;
            starN = name;
        } else if (*pattern == '?' || (*pattern && lower(*pattern) == lower(*name))) {
            ++pattern;
            ++name;
        } else if (starP) {
            pattern = starP;
            name = ++starN;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

} // namespace

bool WildcardMatch(const char* pattern, const char* name)
{
    if (MatchPlain(pattern, name))
        return true;
    const std::size_t length = std::strlen(pattern);
    if (length < 2 || pattern[length - 2] != '.' || pattern[length - 1] != '*' || std::strchr(name, '.'))
        return false;
    return MatchPlain(std::string(pattern, length - 2).c_str(), name);
}

std::vector<std::string> FindFiles(const std::string& dir, const std::string& pattern)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.empty() ? "." : FolderPath(dir).c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        if (WildcardMatch(pattern.c_str(), e->d_name))
            names.emplace_back(e->d_name);
    }
    ::closedir(d);
    return names;
}

void StrLwr(std::string& s)
{
    for (char& c : s)
        c = static_cast<char>(lower(static_cast<unsigned char>(c)));
}

int StrICmp(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        int ca = lower(static_cast<unsigned char>(*a));
        int cb = lower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

} // namespace win32

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace win32 {

std::string FolderPath(const std::string& dir)
{
    std::string folder = dir;
    for (std::size_t i = folder.size(); i > 0 && folder[i - 1] == '\\'; --i)
        folder[i - 1] = '/';
    return folder;
}

std::string PathJoin(const std::string& dir, const std::string& name)
{
    const std::string folder = FolderPath(dir);
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::optional<FileId> IdentifyFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileId{static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::open(const std::string& target)
{
    discard();
    target_ = target;
    if (char* real = ::realpath(target.c_str(), nullptr)) {
        target_ = real;
        std::free(real);
    }
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        // A pipe without a reader fails at once (ENXIO) instead of waiting.
        fd_ = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0)
            ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        inPlace_ = fd_ >= 0;
        return inPlace_;
    }
    temp_ = target_ + ".tmp-XXXXXX";
    fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        temp_.clear();
        return false;
    }
    // mkostemp creates the file 0600; give it the mode a plain create would.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    return true;
}

bool AtomicFile::write(const void* data, size_t size)
{
    if (fd_ < 0)
        return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool AtomicFile::sync() { return fd_ >= 0 && (inPlace_ || ::fsync(fd_) == 0); }

bool AtomicFile::commit()
{
    if (fd_ < 0)
        return false;
    int fd = fd_;
    fd_ = -1;
    if (inPlace_) {
        inPlace_ = false;
        return ::close(fd) == 0;
    }
    if (::close(fd) != 0 || ::rename(temp_.c_str(), target_.c_str()) != 0) {
        int saved = errno;
        ::unlink(temp_.c_str());
        temp_.clear();
        errno = saved;
        return false;
    }
    temp_.clear();
    return true;
}

void AtomicFile::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    inPlace_ = false;
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

} // namespace win32
