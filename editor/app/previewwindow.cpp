#include "previewwindow.h"

#include <QDialogButtonBox>
#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "converter.h"
#include "preview.h"
#include "uiservices.h"

using namespace atlasdesk;

namespace {

// Transparent texels are drawn over a checkerboard so that alpha shows.
QPixmap onCheckerboard(const QImage& image, int scale)
{
    QPixmap pm(image.width() * scale, image.height() * scale);
    QPainter p(&pm);
    const int cell = 8;
    for (int y = 0; y < pm.height(); y += cell)
        for (int x = 0; x < pm.width(); x += cell)
            p.fillRect(x, y, cell, cell, ((x / cell + y / cell) & 1) ? QColor(0xC8, 0xC8, 0xC8) : Qt::white);
    p.drawImage(QRect(0, 0, pm.width(), pm.height()), image);
    return pm;
}

} // namespace

PreviewWindow::PreviewWindow(const QString& ddsPath, UiServices& ui, QWidget* parent) : QDialog(parent), m_path(ddsPath)
{
    setWindowTitle(tr("Preview - %1").arg(QFileInfo(ddsPath).fileName()));
    QFile file(ddsPath);
    if (file.open(QIODevice::ReadOnly))
        m_picture = decodeDds(file.readAll());
    else
        m_picture.error = tr("cannot read %1").arg(ddsPath);

    m_summary = new QLabel(summary(), this);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* strip = new QWidget;
    auto* grid = new QGridLayout(strip);
    // One enlargement for every level keeps their sizes comparable; small
    // textures are enlarged so that their last levels stay visible.
    const int largest = std::max(m_picture.width, m_picture.height);
    const int scale = largest > 0 ? std::clamp(256 / largest, 1, 8) : 1;
    for (size_t i = 0; i < m_picture.levels.size(); ++i) {
        const QImage& level = m_picture.levels[i];
        auto* picture = new QLabel;
        picture->setPixmap(onCheckerboard(level, scale));
        grid->addWidget(picture, 0, int(i), Qt::AlignLeft | Qt::AlignBottom);
        grid->addWidget(new QLabel(tr("%1: %2 x %3").arg(i).arg(level.width()).arg(level.height())), 1, int(i),
                        Qt::AlignLeft | Qt::AlignTop);
    }
    grid->setColumnStretch(int(m_picture.levels.size()), 1);
    grid->setRowStretch(2, 1);
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(strip);
    scroll->setWidgetResizable(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* open = buttons->addButton(tr("Open with the system's application"), QDialogButtonBox::ActionRole);
    connect(open, &QPushButton::clicked, this, [this, services = &ui] { services->openWithDesktop(m_path); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(scroll, 1);
    layout->addWidget(buttons);
    resize(760, 420);
}

QString PreviewWindow::summary() const
{
    if (m_picture.format.isEmpty())
        return m_picture.error;
    QString text = tr("%1, %2 x %3, %4 levels")
                       .arg(m_picture.format)
                       .arg(m_picture.width)
                       .arg(m_picture.height)
                       .arg(m_picture.levelCount);
    if (!m_picture.error.isEmpty())
        text += QStringLiteral(" (%1)").arg(m_picture.error);
    return text;
}

PreviewWindow* PreviewWindow::runConversion(const QString& source, const QString& format, const QString& mips,
                                            UiServices& ui, QWidget* parent)
{
    BusyScope busy(ui);
    const PreviewRun run = runPreviewConversion(converterProgram(), source, format, mips);
    if (!run.started)
        return nullptr;
    auto* window = new PreviewWindow(run.outputFile, ui, parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}
