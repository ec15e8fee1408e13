#include "editor/app/tableprinter.h"

#include <QAbstractItemModel>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <algorithm>
#include <vector>

namespace {

struct Layout {
    double lineHeight;
    int rowsPerPage;
    int pages;
    std::vector<double> columnX;  // left edge of each column, plus the right end
};

Layout layoutFor(QPainter& painter, const QRectF& area, const QAbstractItemModel& model)
{
    Layout l;
    const QFontMetricsF fm(painter.font());
    l.lineHeight = fm.height() * 1.3;
    // Title, blank line, headings and their rule take four lines.
    l.rowsPerPage = std::max(1, int(area.height() / l.lineHeight) - 4);
    l.pages = std::max(1, (model.rowCount() + l.rowsPerPage - 1) / l.rowsPerPage);
    // The columns keep the list's proportions across the page width.
    double total = 0;
    std::vector<double> widths;
    for (int c = 0; c < model.columnCount(); ++c) {
        const QSize hint = model.headerData(c, Qt::Horizontal, Qt::SizeHintRole).toSize();
        widths.push_back(hint.isValid() ? hint.width() : 100);
        total += widths.back();
    }
    double x = area.left();
    for (double w : widths) {
        l.columnX.push_back(x);
        x += total > 0 ? w * area.width() / total : 0;
    }
    l.columnX.push_back(area.right());
    return l;
}

void drawCells(QPainter& painter, const Layout& l, double y, const QStringList& cells)
{
    for (int c = 0; c < cells.size() && c + 1 < int(l.columnX.size()); ++c) {
        const QRectF cell(l.columnX[size_t(c)], y, l.columnX[size_t(c) + 1] - l.columnX[size_t(c)] - 4, l.lineHeight);
        const QString text = painter.fontMetrics().elidedText(cells[c], Qt::ElideMiddle, int(cell.width()));
        painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, text);
    }
}

} // namespace

int paintTablePage(QPainter& painter, const QRectF& area, const QAbstractItemModel& model, const QString& title,
                   int page)
{
    const Layout l = layoutFor(painter, area, model);
    double y = area.top();
    QFont bold = painter.font();
    bold.setBold(true);
    const QFont normal = painter.font();

    painter.setFont(bold);
    painter.drawText(QRectF(area.left(), y, area.width(), l.lineHeight), Qt::AlignLeft | Qt::AlignVCenter, title);
    painter.drawText(QRectF(area.left(), y, area.width(), l.lineHeight), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("%1 / %2").arg(page + 1).arg(l.pages));
    y += 2 * l.lineHeight;

    QStringList headings;
    for (int c = 0; c < model.columnCount(); ++c)
        headings << model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    drawCells(painter, l, y, headings);
    y += l.lineHeight;
    painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    y += l.lineHeight * 0.3;

    painter.setFont(normal);
    const int first = page * l.rowsPerPage;
    const int last = std::min(model.rowCount(), first + l.rowsPerPage);
    for (int r = first; r < last; ++r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells << model.data(model.index(r, c), Qt::DisplayRole).toString();
        drawCells(painter, l, y, cells);
        y += l.lineHeight;
    }
    return l.pages;
}

void printTable(QPagedPaintDevice& device, const QAbstractItemModel& model, const QString& title)
{
    QPainter painter(&device);
    if (!painter.isActive())
        return;
    const QRectF area(0, 0, device.width(), device.height());
    for (int page = 0;; ++page) {
        const int pages = paintTablePage(painter, area, model, title, page);
        if (page + 1 >= pages)
            break;
        device.newPage();
    }
}
