// Prints the texture table: a title line naming the project, the column
// headings, then one line per row, over as many pages as it takes.
#pragma once

#include <QString>

class QAbstractItemModel;
class QPagedPaintDevice;
class QPainter;
class QRectF;

// Draws page `page` (from 0) of the table into `area` and returns the
// number of pages the table needs at this size.
int paintTablePage(QPainter& painter, const QRectF& area, const QAbstractItemModel& model, const QString& title,
                   int page);

// All pages onto a printer or PDF writer.
void printTable(QPagedPaintDevice& device, const QAbstractItemModel& model, const QString& title);
