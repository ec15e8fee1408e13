// The preview conversion: the converter's -single mode writes one texture
// into this editor's preview file, with a time limit, and the run is judged
// by what it left there.
#pragma once

#include <QString>

#include "editor/core/ddsimage.h"

namespace atlasdesk {

struct PreviewRun {
    QString source;      // the image and the mip count it was asked for
    QString mips;
    QString outputFile;  // the preview file, whatever the run did
    bool started = false;
    bool timedOut = false;
    bool crashed = false;
    int exitStatus = 0;  // when it ended by itself
    int timeoutMs = 0;
    QString startError;  // why it did not start
    QString output;      // what the converter printed, usage lines included
};

// Removes the old preview file, then runs
// `program -single <file> <format> <mips> <preview file>` and waits at most
// `timeoutMs`, keeping the event loop running meanwhile.  A converter still
// running at the limit is ended.  A preview file left in place (one that
// cannot be removed) means no start: it would pass for this run's result.
PreviewRun runPreviewConversion(const QString& program, const QString& file, const QString& format,
                                const QString& mips, int timeoutMs = 30000);

// What went wrong, in one or two sentences for the user, or empty when the
// run wrote a texture that `written` (the decoded preview file) can show.
// The converter's -single mode ends with status 1 when it converted and 0
// when it could not load the image; any other status is its own failure
// (5: no rendering device).  Every status also needs the file, since the
// converter reports a failed save only in its lines.
QString previewFailure(const PreviewRun& run, const DdsPicture& written);

} // namespace atlasdesk
