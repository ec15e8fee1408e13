#include "editor/app/atlasdeskview.h"

#include <QHeaderView>
#include <QMouseEvent>

#include "editor/app/filedlg.h"
#include "editor/core/atlasdeskdoc.h"
#include "editor/core/fieldtable.h"

using namespace atlasdesk;

AtlasdeskView::AtlasdeskView(AtlasdeskDoc& doc, QWidget* parent) : QTableView(parent), m_doc(doc), m_table(doc)
{
    setModel(&m_table);
    setSelectionModel(m_table.selectionModel());
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    for (const Field* f = kFieldTable; f->name; ++f)
        if (f->listColumn >= 0)
            setColumnWidth(f->listColumn, f->width);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, &m_table, &TextureTable::sortByColumn);
    m_runner = [this](PropertyList& combined) { return runDialog(combined); };
}

void AtlasdeskView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Anywhere on the list, below the last row too: the click on a row has
    // already made it the focused one.
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        editFocused();
}

int AtlasdeskView::runDialog(PropertyList& combined)
{
    CFileDlg dialog(combined, m_doc.ui(), window());
    return dialog.exec();
}

void AtlasdeskView::editSelected()
{
    m_table.edit(TextureTable::EditMode::Selected, m_runner);
}

void AtlasdeskView::editFocused()
{
    m_table.edit(TextureTable::EditMode::Focused, m_runner);
}

void AtlasdeskView::insertTexture()
{
    m_table.insertBlank(m_runner);
}
