// The converter's output hook: every dprintf text goes to the console and to
// "Mipforge.log" in the working directory.
#pragma once

// The log's name, in the working directory.
constexpr const char* kLogFileName = "Mipforge.log";

// Writes one message: code-page step, debugger, standard output, log file
// (flushed at once, so the log is complete even if the process is killed).
void LogOutputProc(const char* text);
