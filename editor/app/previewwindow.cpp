#include "editor/app/previewwindow.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "editor/core/converter.h"
#include "editor/core/uiservices.h"

using namespace atlasdesk;

// One level, magnified by whole texels (never smoothed) or fitted into the
// widget, over a checkerboard when its alpha is to show.  Without a picture
// it shows a line of text instead.
class PictureView : public QWidget {
public:
    using QWidget::QWidget;

    void setPicture(const QImage& premultiplied, bool checkerboard, const QString& absent = {})
    {
        m_image = premultiplied;
        m_checkerboard = checkerboard;
        m_absent = absent;
        updateGeometry();
        update();
    }
    // 0 fits the picture into the widget; else texels per texel.
    void setZoom(int zoom)
    {
        m_zoom = zoom;
        updateGeometry();
        update();
    }
    QSize sizeHint() const override
    {
        return m_zoom > 0 && !m_image.isNull() ? m_image.size() * m_zoom : QSize(256, 256);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter p(this);
        if (m_image.isNull()) {
            p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, m_absent);
            return;
        }
        QSizeF size = m_image.size() * m_zoom;
        if (m_zoom == 0) {
            const double scale = std::min(double(width()) / m_image.width(), double(height()) / m_image.height());
            size = QSizeF(m_image.size()) * scale;
        }
        const QRectF target(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
        const QRectF shown = target & QRectF(event->rect());
        if (m_checkerboard) {
            p.setBrushOrigin(target.topLeft());
            p.fillRect(shown, checkerboard());
        }
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(target, m_image);
    }

private:
    static QBrush checkerboard()
    {
        static const QPixmap tile = [] {
            const int cell = 8;
            QPixmap pm(2 * cell, 2 * cell);
            pm.fill(Qt::white);
            QPainter p(&pm);
            p.fillRect(cell, 0, cell, cell, QColor(0xC8, 0xC8, 0xC8));
            p.fillRect(0, cell, cell, cell, QColor(0xC8, 0xC8, 0xC8));
            return pm;
        }();
        return QBrush(tile);
    }

    QImage m_image;
    bool m_checkerboard = false;
    QString m_absent;
    int m_zoom = 0;
};

namespace {

// The two views scroll as one.
void scrollTogether(QScrollArea* a, QScrollArea* b)
{
    for (auto [from, to] : {std::pair{a, b}, std::pair{b, a}}) {
        QObject::connect(from->horizontalScrollBar(), &QScrollBar::valueChanged, to->horizontalScrollBar(),
                         &QScrollBar::setValue);
        QObject::connect(from->verticalScrollBar(), &QScrollBar::valueChanged, to->verticalScrollBar(),
                         &QScrollBar::setValue);
    }
}

QScrollArea* scrollAreaFor(PictureView* view, const char* name)
{
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QLatin1String(name));
    scroll->setAlignment(Qt::AlignCenter);
    scroll->setBackgroundRole(QPalette::Dark);
    scroll->setWidget(view);
    scroll->setWidgetResizable(true);
    return scroll;
}

} // namespace

PreviewWindow::PreviewWindow(const PreviewRun& run, UiServices& ui, QWidget* parent) : QDialog(parent), m_run(run)
{
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setSizeGripEnabled(true);
    setWindowTitle(tr("Preview - %1")
                       .arg(QFileInfo(run.source.isEmpty() ? run.outputFile : run.source).fileName()));

    if (run.started && !run.timedOut) {
        QFile file(run.outputFile);
        if (file.open(QIODevice::ReadOnly))
            m_picture = decodeDds(file.readAll());
        else
            m_picture.error = tr("cannot read %1").arg(run.outputFile);
    }
    m_failure = previewFailure(run, m_picture);
    // A failed run's texture, even one it wrote, is not shown.
    if (!m_failure.isEmpty())
        m_picture = {};
    else if (!run.source.isEmpty())
        m_source = loadSourceLevels(run.source, run.mips);
    for (size_t i = 0; i < m_picture.levels.size(); ++i)
        m_quality.push_back(compareLevels(m_picture.levels[i],
                                          i < m_source.levels.size() ? m_source.levels[i] : QImage()));

    auto* summaryLabel = new QLabel(summary(), this);
    summaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summaryLabel->setVisible(m_failure.isEmpty());
    auto* failureLabel = new QLabel(m_failure, this);
    failureLabel->setObjectName(QStringLiteral("failure"));
    failureLabel->setWordWrap(true);
    failureLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    failureLabel->setStyleSheet(QStringLiteral("font-weight: bold"));
    failureLabel->setVisible(!m_failure.isEmpty());

    auto* comparison = new QWidget(this);
    if (m_failure.isEmpty())
        buildComparison(comparison);
    else
        comparison->hide();

    // The converter's lines: open after a failure, one click away otherwise.
    auto* outputToggle = new QToolButton(this);
    outputToggle->setText(tr("Converter output"));
    outputToggle->setCheckable(true);
    outputToggle->setChecked(!m_failure.isEmpty());
    outputToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    outputToggle->setArrowType(outputToggle->isChecked() ? Qt::DownArrow : Qt::RightArrow);
    outputToggle->setAutoRaise(true);
    auto* output = new QPlainTextEdit(this);
    output->setObjectName(QStringLiteral("converterOutput"));
    output->setReadOnly(true);
    output->setLineWrapMode(QPlainTextEdit::NoWrap);
    output->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    output->setPlaceholderText(run.started ? tr("The converter printed nothing.") : QString());
    output->setPlainText(run.output);
    connect(outputToggle, &QToolButton::toggled, this, [output, outputToggle](bool on) {
        output->setVisible(on);
        outputToggle->setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
    });
    outputToggle->setVisible(run.started);
    output->setVisible(run.started && outputToggle->isChecked());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* open = buttons->addButton(tr("Open with the system's application"), QDialogButtonBox::ActionRole);
    open->setEnabled(m_failure.isEmpty());
    connect(open, &QPushButton::clicked, this, [this, services = &ui] { services->openWithDesktop(m_run.outputFile); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summaryLabel);
    layout->addWidget(failureLabel);
    layout->addWidget(comparison, 1);
    layout->addWidget(outputToggle, 0, Qt::AlignLeft);
    layout->addWidget(output, m_failure.isEmpty() ? 0 : 1);
    layout->addWidget(buttons);
    resize(m_failure.isEmpty() ? QSize(980, 720) : QSize(640, 420));
}

void PreviewWindow::buildComparison(QWidget* page)
{
    m_zoom = new QComboBox;
    m_zoom->setObjectName(QStringLiteral("zoom"));
    m_zoom->addItem(tr("Fit"), 0);
    m_zoom->addItem(tr("1:1"), 1);
    m_zoom->addItem(tr("2x"), 2);
    m_zoom->addItem(tr("4x"), 4);
    m_alpha = new QComboBox;
    m_alpha->setObjectName(QStringLiteral("alphaView"));
    m_alpha->addItem(tr("Colour over a checkerboard"), int(AlphaView::Blended));
    m_alpha->addItem(tr("Colour, alpha ignored"), int(AlphaView::Opaque));
    m_alpha->addItem(tr("Alpha as grey"), int(AlphaView::Grey));
    m_shown = new QComboBox;
    m_shown->setObjectName(QStringLiteral("shown"));
    m_shown->addItem(tr("Compressed"), 0);
    for (int gain : {1, 4, 16})
        m_shown->addItem(tr("Difference x%1").arg(gain), gain);
    if (m_source.levels.empty())
        m_shown->setEnabled(false);

    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(0, 0, 0, 0);
    controls->addWidget(new QLabel(tr("Zoom:")));
    controls->addWidget(m_zoom);
    controls->addSpacing(12);
    controls->addWidget(new QLabel(tr("Alpha:")));
    controls->addWidget(m_alpha);
    controls->addSpacing(12);
    controls->addWidget(new QLabel(tr("Right side:")));
    controls->addWidget(m_shown);
    controls->addStretch(1);

    const auto pane = [](QLabel*& title, QScrollArea*& scroll, PictureView*& view, const char* name) {
        auto* box = new QWidget;
        auto* column = new QVBoxLayout(box);
        column->setContentsMargins(0, 0, 0, 0);
        title = new QLabel;
        view = new PictureView;
        scroll = scrollAreaFor(view, name);
        column->addWidget(title);
        column->addWidget(scroll, 1);
        return box;
    };

    // The level list is the level selector, with each level's quality.
    m_levels = new QTableWidget(int(m_picture.levels.size()), 4);
    m_levels->setObjectName(QStringLiteral("levels"));
    m_levels->setHorizontalHeaderLabels({tr("Level"), tr("Size"), tr("PSNR RGB"), tr("PSNR alpha")});
    m_levels->verticalHeader()->hide();
    m_levels->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_levels->setSelectionMode(QAbstractItemView::SingleSelection);
    m_levels->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int i = 0; i < m_levels->rowCount(); ++i) {
        const QImage& level = m_picture.levels[size_t(i)];
        const LevelQuality& q = m_quality[size_t(i)];
        const QString none = tr("-");
        const QStringList cells = {QString::number(i), tr("%1 x %2").arg(level.width()).arg(level.height()),
                                   q.compared ? psnrText(q.rgb) : none, q.compared ? psnrText(q.alpha) : none};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setTextAlignment(c < 2 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
            m_levels->setItem(i, c, item);
        }
    }
    m_levels->verticalHeader()->setDefaultSectionSize(m_levels->fontMetrics().height() + 6);
    m_levels->resizeColumnsToContents();
    m_levels->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    int tableWidth = 2 * m_levels->frameWidth() + m_levels->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < m_levels->columnCount(); ++c)
        tableWidth += m_levels->columnWidth(c);
    m_levels->setMinimumWidth(tableWidth);

    auto* sourceNote = new QLabel(m_source.levels.empty()
                                      ? QString()
                                      : tr("PSNR against the converter's own levels of the source before "
                                           "compression (A8R8G8B8)."));
    sourceNote->setWordWrap(true);
    auto* side = new QWidget;
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(new QLabel(tr("Levels")));
    sideLayout->addWidget(m_levels, 1);
    sideLayout->addWidget(sourceNote);
    side->setMaximumWidth(tableWidth + 40);

    auto* split = new QSplitter(Qt::Horizontal);
    split->setChildrenCollapsible(false);
    split->addWidget(pane(m_sourceTitle, m_sourceScroll, m_sourceView, "sourceView"));
    split->addWidget(pane(m_compressedTitle, m_compressedScroll, m_compressedView, "compressedView"));
    split->addWidget(side);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    split->setStretchFactor(2, 0);
    scrollTogether(m_sourceScroll, m_compressedScroll);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(controls);
    layout->addWidget(split, 1);

    connect(m_zoom, &QComboBox::currentIndexChanged, this, &PreviewWindow::refresh);
    connect(m_alpha, &QComboBox::currentIndexChanged, this, &PreviewWindow::refresh);
    connect(m_shown, &QComboBox::currentIndexChanged, this, &PreviewWindow::refresh);
    if (m_levels->rowCount() > 0)
        m_levels->selectRow(0);
    connect(m_levels, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row >= 0)
            showLevel(row);
    });
    refresh();
}

void PreviewWindow::showLevel(int level)
{
    if (level < 0 || level >= shownLevels() || !m_levels)
        return;
    m_level = level;
    if (m_levels->currentRow() != level)
        m_levels->selectRow(level);
    refresh();
}

void PreviewWindow::refresh()
{
    if (!m_levels)
        return;
    const int zoom = m_zoom->currentData().toInt();
    const auto alpha = AlphaView(m_alpha->currentData().toInt());
    const int gain = m_shown->currentData().toInt();
    const bool blended = alpha == AlphaView::Blended;
    const size_t level = size_t(m_level);
    const QImage compressed = level < m_picture.levels.size() ? m_picture.levels[level] : QImage();
    const QImage source = level < m_source.levels.size() ? m_source.levels[level] : QImage();

    m_sourceTitle->setText(tr("Source, level %1, before compression").arg(m_level));
    if (!source.isNull())
        m_sourceView->setPicture(viewPicture(source, alpha), blended);
    else if (m_run.source.isEmpty())
        m_sourceView->setPicture({}, false, tr("No source image was given."));
    else if (!m_source.error.isEmpty())
        m_sourceView->setPicture({}, false, tr("The source cannot be loaded:\n%1").arg(m_source.error));
    else
        m_sourceView->setPicture({}, false, tr("The source has no level %1.").arg(m_level));

    if (gain > 0 && !source.isNull()) {
        m_compressedTitle->setText(tr("Difference x%1, level %2").arg(gain).arg(m_level));
        m_compressedView->setPicture(differencePicture(compressed, source, gain, alpha), false,
                                     tr("The source's level %1 has another size.").arg(m_level));
    } else {
        m_compressedTitle->setText(tr("Compressed (%1), level %2").arg(m_picture.format).arg(m_level));
        m_compressedView->setPicture(viewPicture(compressed, alpha), blended);
    }

    // Fitted pictures follow the viewport; zoomed ones scroll.
    for (auto [scroll, view] :
         {std::pair{m_sourceScroll, m_sourceView}, std::pair{m_compressedScroll, m_compressedView}}) {
        view->setZoom(zoom);
        scroll->setWidgetResizable(zoom == 0);
        if (zoom > 0)
            view->resize(view->sizeHint());
    }
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
    auto* window = new PreviewWindow(runPreviewConversion(converterProgram(), source, format, mips), ui, parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}
