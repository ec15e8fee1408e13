#include "editor/app/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kW = 16, kH = 15;

void drawPage(QPainter& p, int x, int y, int w, int h)
{
    QPolygon page;
    page << QPoint(x, y) << QPoint(x + w - 4, y) << QPoint(x + w, y + 4) << QPoint(x + w, y + h) << QPoint(x, y + h);
    p.setBrush(Qt::white);
    p.setPen(Qt::black);
    p.drawPolygon(page);
    p.drawLine(x + w - 4, y, x + w - 4, y + 4);
    p.drawLine(x + w - 4, y + 4, x + w, y + 4);
}

void drawTool(QPainter& p, ToolIcon which)
{
    switch (which) {
    case ToolIcon::New:
        drawPage(p, 3, 1, 10, 13);
        break;
    case ToolIcon::Open: {
        p.setPen(Qt::black);
        p.setBrush(QColor(0xE0, 0xC0, 0x40));
        p.drawRect(1, 4, 11, 9);
        QPolygon lid;
        lid << QPoint(3, 7) << QPoint(15, 7) << QPoint(12, 13) << QPoint(1, 13);
        p.setBrush(QColor(0xF8, 0xE0, 0x70));
        p.drawPolygon(lid);
        p.drawLine(9, 2, 14, 2);
        p.drawLine(14, 2, 14, 5);
        break;
    }
    case ToolIcon::Save:
        p.setPen(Qt::black);
        p.setBrush(QColor(0x30, 0x50, 0xA0));
        p.drawRect(1, 1, 13, 13);
        p.setBrush(Qt::white);
        p.drawRect(4, 1, 7, 5);
        p.setBrush(QColor(0xC0, 0xC0, 0xC0));
        p.drawRect(4, 9, 7, 5);
        break;
    case ToolIcon::Cut:
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::NoBrush);
        p.drawLine(5, 1, 9, 9);
        p.drawLine(10, 1, 6, 9);
        p.drawEllipse(2, 9, 4, 4);
        p.drawEllipse(9, 9, 4, 4);
        break;
    case ToolIcon::Copy:
        drawPage(p, 1, 1, 8, 9);
        drawPage(p, 6, 4, 8, 10);
        break;
    case ToolIcon::Paste:
        p.setPen(Qt::black);
        p.setBrush(QColor(0xA0, 0x70, 0x30));
        p.drawRect(1, 2, 10, 12);
        p.setBrush(QColor(0xC0, 0xC0, 0xC0));
        p.drawRect(4, 1, 4, 2);
        drawPage(p, 7, 5, 8, 9);
        break;
    case ToolIcon::Print:
        p.setPen(Qt::black);
        drawPage(p, 4, 1, 8, 6);
        p.setBrush(QColor(0xC0, 0xC0, 0xC0));
        p.drawRect(1, 7, 14, 5);
        p.setBrush(Qt::white);
        p.drawRect(4, 11, 8, 3);
        p.setPen(QColor(0x20, 0xA0, 0x20));
        p.drawPoint(13, 9);
        break;
    case ToolIcon::About: {
        p.setPen(Qt::black);
        p.setBrush(QColor(0xFF, 0xFF, 0xC0));
        p.drawEllipse(1, 0, 13, 13);
        QFont f = p.font();
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(0x20, 0x40, 0xC0));
        p.drawText(QRect(1, 0, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    }
}

QPixmap mipStack(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    const QColor colours[] = {QColor(0x30, 0x80, 0x30), QColor(0x50, 0xA0, 0x40), QColor(0x80, 0xC0, 0x50),
                              QColor(0xB0, 0xE0, 0x70)};
    int x = 0, s = size / 2 + size / 4;
    for (const QColor& c : colours) {
        p.setPen(Qt::black);
        p.setBrush(c);
        p.drawRect(x, size - 1 - s, s - 1, s - 1);
        x += s - 1;
        s = std::max(2, s / 2);
        if (x >= size - 1)
            break;
    }
    return pm;
}

} // namespace

QIcon toolIcon(ToolIcon which)
{
    QPixmap pm(kW, kH);
    pm.fill(Qt::transparent);
    {
        QPainter p(&pm);
        drawTool(p, which);
    }
    return QIcon(pm);
}

QIcon programIcon()
{
    QIcon icon;
    icon.addPixmap(mipStack(16));
    icon.addPixmap(mipStack(32));
    return icon;
}
