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
