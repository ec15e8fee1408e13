// The rows of the texture list and every list command, without a widget.
// Each row refers to its texture item in the document's tree; row order is
// the list's own (sorting reorders rows, never the tree).  Selection and
// focus live in an item selection model that a view may share.
#pragma once

#include <QAbstractTableModel>
#include <QItemSelectionModel>
#include <QString>
#include <array>
#include <functional>
#include <vector>

#include "editor/core/fieldtable.h"
#include "editor/core/projecttree.h"

namespace atlasdesk {

class AtlasdeskDoc;

class TextureTable : public QAbstractTableModel {
    Q_OBJECT
public:
    // The properties dialog as the edit commands run it: it edits the
    // combined texture in place and returns kOk, kCancel, kNext or kPrevious.
    using DialogRunner = std::function<int(PropertyList& combined)>;
    static constexpr int kOk = 1, kCancel = 2, kNext = 666, kPrevious = 667;

    enum class EditMode { Selected, Focused };

    explicit TextureTable(AtlasdeskDoc& doc, QObject* parent = nullptr);

    QItemSelectionModel* selectionModel() { return &m_selection; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    Node texture(int row) const { return m_rows[size_t(row)].texture; }
    QString text(int row, int column) const { return m_rows[size_t(row)].text[size_t(column)]; }

    int focusedRow() const;
    void setFocusedRow(int row);  // focus only; the selection stays
    std::vector<int> selectedRows() const;
    bool hasSelection() const { return m_selection.hasSelection(); }
    void selectOnly(int row);

    void refill();
    void fillRow(int row);

    void selectAll();
    void copy();
    void cut();
    void paste();
    void deleteSelected();
    void addFiles();
    void sortByColumn(int column);

    // Builds the combined texture of the rows of `mode`; false when there
    // is no row.  `rows` receives the rows it was built from.
    bool combine(EditMode mode, std::vector<int>& rows, PropertyList& combined) const;
    // Applies a combined texture to `rows` (values "*" are left alone).
    void apply(const std::vector<int>& rows, const PropertyList& combined);

    // Edit, with ">>" and "<<" stepping to the next or previous row and
    // reopening the dialog there.
    void edit(EditMode mode, const DialogRunner& runDialog);
    // Insert a blank texture at the focused row and edit it.
    void insertBlank(const DialogRunner& runDialog);

private:
    struct Row {
        Node texture;
        std::array<QString, kListColumns> text;
    };

    void insertRow(int at, Node texture);
    void insertRows(int at, const std::vector<Node>& textures);

    AtlasdeskDoc& m_doc;
    QItemSelectionModel m_selection;
    std::vector<Row> m_rows;
};

} // namespace atlasdesk
