#include "log.h"

#include "win32.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

// Opened during program start-up, before main, and truncated, so the file
// always holds the last run alone.  A log that cannot be created leaves the
// stream failed and its writes are dropped.
std::ofstream g_log("Mipforge.log", std::ios::out | std::ios::trunc | std::ios::binary);

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
