// The result of a preview conversion, worth opening: the compressed texture
// beside the levels the converter made from the source before compressing
// them, at one zoom and one scroll position, with alpha views, amplified
// differences and each level's PSNR.  A failed run shows what happened and
// the converter's lines instead; a Linux desktop rarely has a viewer of its
// own for DDS.  A normal resizable window, not modal.
#pragma once

#include <QDialog>
#include <vector>

#include "editor/core/ddsimage.h"
#include "editor/core/imagecompare.h"
#include "editor/core/preview.h"

namespace atlasdesk {
class UiServices;
}

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QTableWidget;
class PictureView;

class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    // Shows what `run` wrote, compared with its source when it names one,
    // or why it wrote nothing that can be shown.
    PreviewWindow(const atlasdesk::PreviewRun& run, atlasdesk::UiServices& ui, QWidget* parent = nullptr);

    // Converts one source through the converter's -single mode into the
    // preview file and shows the result, or the failure, in a window of its
    // own (deleted on close).  Returns the shown window.
    static PreviewWindow* runConversion(const QString& source, const QString& format, const QString& mips,
                                        atlasdesk::UiServices& ui, QWidget* parent);

    const atlasdesk::DdsPicture& picture() const { return m_picture; }
    const atlasdesk::DdsPicture& source() const { return m_source; }
    // "DXT5, 64 x 64, 7 levels", with the reader's complaint in parentheses
    // when a level could not be decoded.
    QString summary() const;
    // Empty after a run that wrote a texture; else what happened.
    QString failure() const { return m_failure; }
    QString converterLines() const { return m_run.output; }
    int shownLevels() const { return int(m_picture.levels.size()); }
    // One entry per shown level.
    const std::vector<atlasdesk::LevelQuality>& quality() const { return m_quality; }

    int shownLevel() const { return m_level; }
    void showLevel(int level);

private:
    void buildComparison(QWidget* page);
    void refresh();

    atlasdesk::PreviewRun m_run;
    atlasdesk::DdsPicture m_picture;
    atlasdesk::DdsPicture m_source;
    std::vector<atlasdesk::LevelQuality> m_quality;
    QString m_failure;
    int m_level = 0;

    QComboBox* m_zoom = nullptr;
    QComboBox* m_alpha = nullptr;
    QComboBox* m_shown = nullptr;
    QTableWidget* m_levels = nullptr;
    QLabel* m_sourceTitle = nullptr;
    QLabel* m_compressedTitle = nullptr;
    QScrollArea* m_sourceScroll = nullptr;
    QScrollArea* m_compressedScroll = nullptr;
    PictureView* m_sourceView = nullptr;
    PictureView* m_compressedView = nullptr;
};
