#include "converter/log.h"

#include "platform/win32/win32.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A descriptor of 0, 1 or 2 that the parent left closed would be taken by the
// log file below, and the console's text would land in the log a second
// time; /dev/null holds those places first.
bool HoldStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        const int held = ::open("/dev/null", O_RDWR);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
    return true;
}
[[maybe_unused]] const bool g_held = HoldStandardDescriptors();

// Opened during program start-up, before main, and truncated, so the file
// always holds the last run alone.  A log that cannot be created leaves the
// stream failed and its writes are dropped.
std::ofstream g_log(kLogFileName, std::ios::out | std::ios::trunc | std::ios::binary);

} // namespace

void LogOutputProc(const char* text)
{
    // The hook contract allows converting in place; the conversion is the
    // identity here, so the caller's text is used as it is.
    win32::CharToOemA(text, const_cast<char*>(text));
    win32::OutputDebugStringA(text);
    std::fputs(text, stdout);
    std::fflush(stdout);
    if (g_log) {
        g_log.write(text, static_cast<std::streamsize>(std::strlen(text)));
        g_log.flush();
    }
}
