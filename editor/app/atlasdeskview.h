// The texture list on screen: a thin table over TextureTable, which holds
// the rows and carries out the commands.
#pragma once

#include <QTableView>

#include "editor/core/texturetable.h"

class AtlasdeskView : public QTableView {
    Q_OBJECT
public:
    AtlasdeskView(atlasdesk::AtlasdeskDoc& doc, QWidget* parent = nullptr);

    atlasdesk::TextureTable& table() { return m_table; }

    // Edit commands, running the properties dialog.
    void editSelected();
    void editFocused();
    void insertTexture();

    // The properties dialog as the edits run it; tests may replace it.
    void setDialogRunner(atlasdesk::TextureTable::DialogRunner runner) { m_runner = std::move(runner); }

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int runDialog(atlasdesk::PropertyList& combined);

    atlasdesk::AtlasdeskDoc& m_doc;
    atlasdesk::TextureTable m_table;
    atlasdesk::TextureTable::DialogRunner m_runner;
};
