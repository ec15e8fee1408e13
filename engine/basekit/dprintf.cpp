#include "engine/basekit/dprintf.h"

#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

void (*pDPrintOutputProc)(const char* text) = nullptr;

namespace {

thread_local DPrintCapture* t_capture = nullptr;

void Emit(char* text)
{
    if (pDPrintOutputProc)
        pDPrintOutputProc(text);
    else
        std::fputs(text, stderr);
}

} // namespace

void DeliverToCapture(DPrintCapture& capture, const char* text) { capture.messages_.emplace_back(text); }

DPrintCapture::DPrintCapture() : outer_(t_capture) { t_capture = this; }

DPrintCapture::~DPrintCapture() { t_capture = outer_; }

std::vector<std::string> DPrintCapture::take() { return std::exchange(messages_, {}); }

void DPrintReplay(const std::vector<std::string>& messages)
{
    for (const std::string& m : messages) {
        // The hook may change the text in place, so it gets a copy.
        std::vector<char> text(m.begin(), m.end());
        text.push_back('\0');
        Emit(text.data());
    }
}

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

    if (t_capture)
        DeliverToCapture(*t_capture, text);
    else
        Emit(text);
}
