// The texture properties dialog: shows a (combined) texture's properties in
// its controls and writes them back.  Closes with 1 (OK), 2 (Cancel), 666
// (">>") or 667 ("<<").
#pragma once

#include <QDialog>
#include <QMap>

#include "editor/core/projecttree.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace atlasdesk {
class UiServices;
}

class PreviewWindow;

class CFileDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kNext = 666, kPrevious = 667;

    CFileDlg(atlasdesk::PropertyList& texture, atlasdesk::UiServices& ui, QWidget* parent = nullptr);

    // The control with a given id (1005, 1004 ..., 1 for OK, 2 for Cancel);
    // null for an unknown id.
    QWidget* control(int id) const;
    // The id of the control that had the focus when a dialog was last
    // closed with OK, ">>" or "<<"; 0 at start.
    static int rememberedFocus() { return s_focusId; }
    static void setRememberedFocus(int id) { s_focusId = id; }

    // The commands of the buttons, callable directly.
    void next();
    void previous();
    void chooseSource();
    void openSource();
    // Runs the preview conversion and shows its window (returned; owned by
    // the dialog).
    PreviewWindow* previewConversion();

public slots:
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void initialise();
    void writeBack();
    QString textOf(int id) const;

    atlasdesk::PropertyList& m_texture;
    atlasdesk::UiServices& m_ui;
    QMap<int, QWidget*> m_controls;
    QMap<int, QString> m_shown;  // the text each control was given
    QLineEdit* m_file;
    QLineEdit* m_comment;
    QComboBox* m_mips;
    QComboBox* m_format;

    static int s_focusId;
};
