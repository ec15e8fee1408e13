// The few Win32 services the programs need, on POSIX.
#pragma once

#include <optional>
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
// existing directory also gives false, as on Windows).  A trailing "\" is a
// separator, as in FolderPath.
bool CreateDirectoryA(const char* path);

// Names of the entries of `dir` (empty means the working directory) whose
// name matches `pattern`, a Windows wildcard pattern ("*" and "?") compared
// without regard to ASCII case, as a Windows directory search does.  Entries
// are not filtered by kind; "." and ".." are left out.  Order is unspecified.
std::vector<std::string> FindFiles(const std::string& dir, const std::string& pattern);

// True when `name` matches the wildcard `pattern`, ignoring ASCII case.  As
// in a Windows search, a pattern ending in ".*" also takes names without a
// dot ("*.*" matches every name).
bool WildcardMatch(const char* pattern, const char* name);

// ASCII lower-case, in place, like _strlwr.
void StrLwr(std::string& s);
// Case-insensitive comparison of ASCII letters, like _stricmp / _strcmpi.
int StrICmp(const char* a, const char* b);

} // namespace win32

namespace win32 {

// A folder as the file system names it: the trailing "\" of a folder
// written the Windows way ("out\") becomes "/", so that "out", "out/" and
// "out\" are the same folder.  A "\" inside a name is left alone; a Linux
// name may hold one.
std::string FolderPath(const std::string& dir);

// A directory name (through FolderPath), then "/" unless the name is empty
// or already ends in "/", then the file name.  An empty directory means the
// working one.
std::string PathJoin(const std::string& dir, const std::string& name);

// Identity of an existing file (device and inode), so that two names of one
// file compare equal; empty when the name does not exist.
struct FileId {
    unsigned long long device = 0, inode = 0;
    auto operator<=>(const FileId&) const = default;
};
std::optional<FileId> IdentifyFile(const std::string& path);

// Writes a file under a temporary name beside the target and renames it
// into place on commit, so that the target is either the old file or the
// complete new one.  A symbolic link is followed (the file it names is
// replaced, the link stays); a device or a pipe is written in place.  Without commit (or when a write failed) the temporary
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
    // Flushes what was written to the disk (nothing to do for a device).
    bool sync();
    // Closes the temporary file and renames it over the target.
    bool commit();
    // Removes the temporary file; the target stays as it was.
    void discard();

private:
    int fd_ = -1;
    bool inPlace_ = false;  // a device or pipe, written as it is
    std::string target_;
    std::string temp_;
};

} // namespace win32
