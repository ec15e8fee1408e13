// Where the editor finds the converter, and the file the preview writes.
#pragma once

#include <QString>

namespace atlasdesk {

// The converter program: $ATLASDESK_CONVERTER when set (tests point it at a
// stand-in), else "Mipforge" beside the editor's executable, else
// the converter of the build tree the editor was built in (when it exists),
// else "Mipforge" found on PATH.  Returns the bare name when none exists, so the
// start fails like any other failed start.
QString converterProgram();

// The file the preview conversion writes: "atlasdesk-preview-<pid>.dds" in
// the system's temporary folder, one per editor process so that two editors
// never show each other's texture.  The first call arranges for the file to
// be removed when the application object goes away.
QString previewFilePath();

// Default CDDS name for a project path: cut before the last "." of the whole
// path (folders included), then ".cdds".
QString defaultCddsPath(const QString& projectPath);

} // namespace atlasdesk
