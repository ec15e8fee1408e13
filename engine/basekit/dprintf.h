// Debug output of the engine's common library: one formatted message at a
// time, handed to the installed output hook.
#pragma once

// The output hook.  It receives each message as one NUL-terminated text in a
// writable buffer that it may change in place before it returns.  While it
// is unset, messages go to standard error.
extern void (*pDPrintOutputProc)(const char* text);

// printf-style formatting of one message; long messages are not cut.
// (An overload beside POSIX dprintf(int, const char*, ...).)
void dprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

#include <string>
#include <vector>

// Collects the messages dprintf formats on the constructing thread, instead
// of handing them to the hook, until the object goes away.  Work done ahead
// on other threads uses it so that its messages can be replayed in the
// order a one-thread run would print them.  Captures nest.
class DPrintCapture {
public:
    DPrintCapture();
    ~DPrintCapture();
    DPrintCapture(const DPrintCapture&) = delete;
    DPrintCapture& operator=(const DPrintCapture&) = delete;

    // The messages collected so far, each as dprintf formatted it.
    std::vector<std::string> take();

private:
    friend void DeliverToCapture(DPrintCapture&, const char*);
    std::vector<std::string> messages_;
    DPrintCapture* outer_;
};

// Hands each message to the output, in order, as dprintf would have.
void DPrintReplay(const std::vector<std::string>& messages);
