#include "editor/core/texturetable.h"

#include <QSet>
#include <QSize>
#include <algorithm>
#include <cstring>
#include <iterator>

#include "editor/core/atlasdeskdoc.h"
#include "editor/core/uiservices.h"

namespace atlasdesk {

namespace {

// The combined texture's mark for values that differ; never stored.
const std::string kDiffers = "*";

PropertyList::iterator findProperty(PropertyList& list, const std::string& key)
{
    return std::find_if(list.begin(), list.end(), [&](const auto& p) { return p.first == key; });
}

// Rows without the property first, then byte order of the values, so that
// "10" comes before "2" and upper case before lower case.
int compareTextures(Node a, Node b, const std::string& key)
{
    const std::string* va = property(a, key);
    const std::string* vb = property(b, key);
    if (!va && !vb)
        return 0;
    if (!va)
        return -1;
    if (!vb)
        return 1;
    return std::strcmp(va->c_str(), vb->c_str());
}

} // namespace

TextureTable::TextureTable(AtlasdeskDoc& doc, QObject* parent) : QAbstractTableModel(parent), m_doc(doc), m_selection(this)
{
    connect(&m_doc, &AtlasdeskDoc::contentsReplaced, this, &TextureTable::refill);
    refill();
}

int TextureTable::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TextureTable::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kListColumns;
}

QVariant TextureTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kListColumns)
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return text(index.row(), index.column());
    return {};
}

QVariant TextureTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    const Field* f = fieldForColumn(section);
    if (!f)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(f->heading);
    if (role == Qt::SizeHintRole)
        return QSize(f->width, 20);
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

int TextureTable::focusedRow() const
{
    const QModelIndex current = m_selection.currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TextureTable::setFocusedRow(int row)
{
    m_selection.setCurrentIndex(row < 0 ? QModelIndex() : index(row, 0), QItemSelectionModel::NoUpdate);
}

std::vector<int> TextureTable::selectedRows() const
{
    QSet<int> rows;
    for (const QModelIndex& i : m_selection.selectedIndexes())
        rows.insert(i.row());
    std::vector<int> out(rows.begin(), rows.end());
    std::sort(out.begin(), out.end());
    return out;
}

void TextureTable::selectOnly(int row)
{
    m_selection.setCurrentIndex(index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TextureTable::refill()
{
    beginResetModel();
    m_rows.clear();
    if (hasRoot(m_doc.project()))
        for (Node t : textures(m_doc.project()))
            m_rows.push_back(Row{t, {}});
    endResetModel();
    for (int r = 0; r < rowCount(); ++r)
        fillRow(r);
}

void TextureTable::fillRow(int row)
{
    Row& r = m_rows[size_t(row)];
    for (const auto& [name, value] : properties(r.texture)) {
        const Field* f = findField(name);
        if (f && f->listColumn >= 0)
            r.text[size_t(f->listColumn)] = QString::fromStdString(value);
    }
    emit dataChanged(index(row, 0), index(row, kListColumns - 1));
}

void TextureTable::insertRow(int at, Node texture)
{
    insertRows(at, {texture});
}

void TextureTable::insertRows(int at, const std::vector<Node>& textures)
{
    if (textures.empty())
        return;
    // One insertion for the lot: row by row, a paste of thousands would
    // move the rows below it thousands of times.
    at = std::clamp(at, 0, rowCount());
    beginInsertRows({}, at, at + int(textures.size()) - 1);
    std::vector<Row> rows;
    rows.reserve(textures.size());
    for (Node t : textures)
        rows.push_back(Row{t, {}});
    m_rows.insert(m_rows.begin() + at, rows.begin(), rows.end());
    endInsertRows();
    for (int r = at; r < at + int(textures.size()); ++r)
        fillRow(r);
}

void TextureTable::selectAll()
{
    if (rowCount() == 0)
        return;
    m_selection.select(QItemSelection(index(0, 0), index(rowCount() - 1, kListColumns - 1)),
                       QItemSelectionModel::Select);
}

void TextureTable::copy()
{
    const std::vector<int> rows = selectedRows();
    if (rows.empty())
        return;
    BusyScope busy(m_doc.ui());
    Tree clip;
    for (int row : rows)
        appendTopLevelCopy(clip, texture(row));
    m_doc.ui().setClipboardText(QString::fromStdString(saveText(clip)));
}

void TextureTable::cut()
{
    copy();
    deleteSelected();
}

void TextureTable::deleteSelected()
{
    BusyScope busy(m_doc.ui());
    const std::vector<int> rows = selectedRows();
    // Runs of adjacent rows go at once, the last run first, so that the
    // row numbers still to come stay valid.
    for (auto end = rows.rbegin(); end != rows.rend();) {
        auto first = end;
        while (std::next(first) != rows.rend() && *std::next(first) == *first - 1)
            ++first;
        const int from = *first, to = *end;
        std::vector<Node> gone;
        for (int r = from; r <= to; ++r)
            gone.push_back(texture(r));
        beginRemoveRows({}, from, to);
        m_rows.erase(m_rows.begin() + from, m_rows.begin() + to + 1);
        endRemoveRows();
        for (Node t : gone)
            eraseTexture(m_doc.project(), t);
        end = std::next(first);
    }
    m_doc.setModified();
}

void TextureTable::paste()
{
    BusyScope busy(m_doc.ui());
    Tree clip;
    if (!parseUtf8Text(m_doc.ui().clipboardText().toStdString(), clip))
        return;
    std::vector<Node> pasted;
    for (Node top : topLevel(clip))
        pasted.push_back(appendTextureCopy(m_doc.project(), top));
    insertRows(std::max(0, focusedRow()), pasted);
    m_doc.setModified();
}

void TextureTable::addFiles()
{
    const QStringList files = m_doc.ui().openFileNames(QStringLiteral("Select Image files"),
                                                       QStringLiteral("All Files (*.*)"), true);
    if (files.isEmpty())
        return;
    int at = std::max(0, focusedRow());
    bool added = false;
    for (const QString& file : files) {
        const std::string path = file.toStdString();
        if (hasTextureWithFile(m_doc.project(), path)) {
            const auto answer = m_doc.ui().ask(QStringLiteral("Файл %1 уже есть в списке. Добавить?").arg(file));
            if (answer == UiServices::Answer::No)
                continue;
            if (answer == UiServices::Answer::Cancel)
                break;
        }
        insertRow(at++, addTextureFromFile(m_doc.project(), path));
        added = true;
    }
    if (added)
        m_doc.setModified();
}

void TextureTable::sortByColumn(int column)
{
    const Field* f = fieldForColumn(column);
    if (!f)
        return;
    const std::string key = f->name;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order(m_rows.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return compareTextures(m_rows[size_t(a)].texture, m_rows[size_t(b)].texture, key) < 0;
    });
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newPos(m_rows.size());
    for (size_t i = 0; i < order.size(); ++i) {
        sorted.push_back(m_rows[size_t(order[i])]);
        newPos[size_t(order[i])] = int(i);
    }
    m_rows.swap(sorted);
    // Selection and focus travel with their rows.
    QModelIndexList from = persistentIndexList(), to;
    for (const QModelIndex& i : from)
        to.append(index(newPos[size_t(i.row())], i.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

bool TextureTable::combine(EditMode mode, std::vector<int>& rows, PropertyList& combined) const
{
    rows.clear();
    combined.clear();
    if (mode == EditMode::Focused) {
        if (focusedRow() >= 0)
            rows.push_back(focusedRow());
    } else {
        rows = selectedRows();
    }
    if (rows.empty())
        return false;
    const bool single = rows.size() == 1;
    for (int row : rows)
        for (const auto& [name, value] : properties(texture(row))) {
            // Names and files are per texture; an edit of several never
            // shows or touches them.
            if (!single && (name == "name" || name == "filename"))
                continue;
            auto it = findProperty(combined, name);
            if (it == combined.end())
                combined.emplace_back(name, value);
            else if (it->second != value)
                it->second.assign(kDiffers);
        }
    static const std::pair<const char*, const char*> completion[] = {
        {"bHigh", "*"}, {"bMedium", "*"}, {"bLow", "*"}, {"HighLevel", "1"}, {"MediumLevel", "2"}, {"LowLevel", "3"}};
    for (const auto& [name, value] : completion)
        if (findProperty(combined, name) == combined.end())
            combined.emplace_back(name, value);
    return true;
}

void TextureTable::apply(const std::vector<int>& rows, const PropertyList& combined)
{
    for (int row : rows) {
        for (const auto& [name, value] : combined)
            if (value != kDiffers)
                atlasdesk::setProperty(m_doc.project(), texture(row), name, value);
        fillRow(row);
    }
    m_doc.setModified();
}

void TextureTable::edit(EditMode mode, const DialogRunner& runDialog)
{
    for (;;) {
        std::vector<int> rows;
        PropertyList combined;
        if (!combine(mode, rows, combined))
            return;
        const int result = runDialog(combined);
        if (result != kOk && result != kNext && result != kPrevious)
            return;
        // Stepping keeps what was typed, as OK does: a user walking through
        // the rows would otherwise lose every change without a word.
        apply(rows, combined);
        if (result == kOk)
            return;
        // As the arrow keys do in the list: the focus and a single
        // selection move one row, and stop at either end.
        const int from = focusedRow();
        const int to = from < 0 ? 0 : std::clamp(from + (result == kNext ? 1 : -1), 0, rowCount() - 1);
        if (rowCount() == 0)
            return;
        selectOnly(to);
        mode = EditMode::Selected;
    }
}

void TextureTable::insertBlank(const DialogRunner& runDialog)
{
    const int at = std::max(0, focusedRow());
    insertRow(at, addBlankTexture(m_doc.project()));
    m_selection.setCurrentIndex(index(at, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    m_doc.setModified();
    edit(EditMode::Focused, runDialog);
}

} // namespace atlasdesk
