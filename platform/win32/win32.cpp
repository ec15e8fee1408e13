#include "win32.h"

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

bool CreateDirectoryA(const char* path) { return path && ::mkdir(path, 0777) == 0; }

static unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool WildcardMatch(const char* pattern, const char* name)
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

std::vector<std::string> FindFiles(const std::string& dir, const std::string& pattern)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
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
