// The few Win32 services the programs need, on POSIX.
#pragma once

#include <string>
#include <vector>

namespace win32 {

// Code-page step of console output.  The console, the log and the file
// system share the locale's UTF-8 here, so the conversion is the identity;
// src and dst may be the same buffer.
void CharToOemA(const char* src, char* dst);

// Debugger output has no channel on Linux; the text is dropped.
void OutputDebugStringA(const char* text);

// Creates one directory level; false when it could not be created (an
// existing directory also gives false, as on Windows).
bool CreateDirectoryA(const char* path);

// Names of the entries of `dir` (empty means the working directory) whose
// name matches `pattern`, a Windows wildcard pattern ("*" and "?") compared
// without regard to ASCII case, as a Windows directory search does.  Entries
// are not filtered by kind; "." and ".." are left out.  Order is unspecified.
std::vector<std::string> FindFiles(const std::string& dir, const std::string& pattern);

// True when `name` matches the wildcard `pattern`, ignoring ASCII case.
bool WildcardMatch(const char* pattern, const char* name);

// ASCII lower-case, in place, like _strlwr.
void StrLwr(std::string& s);
// Case-insensitive comparison of ASCII letters, like _stricmp / _strcmpi.
int StrICmp(const char* a, const char* b);

} // namespace win32

namespace win32 {

// A directory name, then "/" unless the name is empty or already ends in
// "/" or "\", then the file name.  An empty directory means the working one.
std::string PathJoin(const std::string& dir, const std::string& name);

// Writes a file under a temporary name beside the target and renames it
// into place on commit, so that the target is either the old file or the
// complete new one.  Without commit (or when a write failed) the temporary
// file is removed and the target is untouched.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; false (with errno set) when the folder
    // cannot take it.
    bool open(const std::string& target);
    // Writes all bytes, retrying short writes; false on any failure.
    bool write(const void* data, size_t size);
    // Closes the temporary file and renames it over the target.
    bool commit();
    // Removes the temporary file; the target stays as it was.
    void discard();
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::string target_;
    std::string temp_;
};

} // namespace win32
