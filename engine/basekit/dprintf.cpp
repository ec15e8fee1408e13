#include "dprintf.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

void (*pDPrintOutputProc)(const char* text) = nullptr;

void dprintf(const char* format, ...)
{
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);

    std::vector<char> big;
    char* text = small;
    if (n < 0) {
        small[0] = '\0';
    } else if (static_cast<size_t>(n) >= sizeof small) {
        big.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(big.data(), big.size(), format, again);
        text = big.data();
    }
    va_end(again);

    if (pDPrintOutputProc)
        pDPrintOutputProc(text);
    else
        std::fputs(text, stderr);
}
