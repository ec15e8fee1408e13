// The preview conversion: the converter's -single mode writes one texture
// into the fixed preview file, with a time limit.
#pragma once

#include <QString>

namespace atlasdesk {

struct PreviewRun {
    bool started = false;
    bool timedOut = false;
    QString output;      // what the converter printed
    QString outputFile;  // the preview file, whatever the run did
};

// Runs `program -single <file> <format> <mips> <preview file>` and waits at
// most `timeoutMs`, keeping the event loop running meanwhile.  A converter
// still running at the limit is ended.
PreviewRun runPreviewConversion(const QString& program, const QString& file, const QString& format,
                                const QString& mips, int timeoutMs = 30000);

} // namespace atlasdesk
