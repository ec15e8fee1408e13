// Shows every mip level of a DDS file with its format, size and level
// count; a Linux desktop rarely has a viewer of its own for DDS.
#pragma once

#include <QDialog>

#include "ddsimage.h"

namespace atlasdesk {
class UiServices;
}

class QLabel;

class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    PreviewWindow(const QString& ddsPath, atlasdesk::UiServices& ui, QWidget* parent = nullptr);

    // Converts one source through the converter's -single mode into the
    // preview file and shows the result in a window of its own (deleted on
    // close); null when the converter could not be started.
    static PreviewWindow* runConversion(const QString& source, const QString& format, const QString& mips,
                                        atlasdesk::UiServices& ui, QWidget* parent);

    const atlasdesk::DdsPicture& picture() const { return m_picture; }
    QString summary() const;
    int shownLevels() const { return int(m_picture.levels.size()); }

private:
    QString m_path;
    atlasdesk::DdsPicture m_picture;
    QLabel* m_summary;
};
