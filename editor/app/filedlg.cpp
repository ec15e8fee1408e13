#include "editor/app/filedlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "editor/app/modalframe.h"
#include "editor/app/previewwindow.h"
#include "editor/core/fieldtable.h"
#include "editor/core/uiservices.h"

using namespace atlasdesk;

int CFileDlg::s_focusId = 0;

namespace {

QCheckBox* levelBox(const QString& text, QWidget* parent)
{
    auto* box = new QCheckBox(text, parent);
    box->setTristate(true);
    box->setLayoutDirection(Qt::RightToLeft);  // the text stands left of the box
    return box;
}

QComboBox* choiceBox(const std::vector<std::string>& entries, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);  // typed values are not offered later
    for (const std::string& e : entries)
        box->addItem(QString::fromStdString(e));
    box->setCurrentIndex(-1);
    return box;
}

const std::string& checkValue(Qt::CheckState state)
{
    static const std::string on = "1", off = "0", mixed = "*";
    return state == Qt::Checked ? on : state == Qt::Unchecked ? off : mixed;
}

} // namespace

CFileDlg::CFileDlg(PropertyList& texture, UiServices& ui, QWidget* parent)
    : QDialog(parent), m_texture(texture), m_ui(ui)
{
    setWindowTitle(QStringLiteral("Dialog"));

    m_file = new QLineEdit(this);
    m_comment = new QLineEdit(this);
    auto* name = new QLineEdit(this);
    m_mips = choiceBox(mipChoices(), this);
    m_format = choiceBox(formatNames(), this);
    auto* high = levelBox(QStringLiteral("High"), this);
    auto* highLevel = new QLineEdit(this);
    auto* medium = levelBox(QStringLiteral("Medium"), this);
    auto* mediumLevel = new QLineEdit(this);
    auto* low = levelBox(QStringLiteral("Low"), this);
    auto* lowLevel = new QLineEdit(this);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* view = new QPushButton(QStringLiteral("Просмотр"), this);
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    auto* preview = new QPushButton(QStringLiteral("Просмотр"), this);
    auto* nextButton = new QPushButton(QStringLiteral(">>"), this);
    auto* prevButton = new QPushButton(QStringLiteral("<<"), this);
    ok->setDefault(true);
    browse->setMaximumWidth(32);
    for (QPushButton* b : {nextButton, prevButton})
        b->setMaximumWidth(40);

    // Ids in template order, which is also the tab order.
    const std::pair<int, QWidget*> ordered[] = {
        {1005, m_file},  {1004, m_comment}, {1006, name},      {1002, m_mips},   {1003, m_format},
        {1012, high},    {1011, highLevel}, {1010, medium},    {1009, mediumLevel}, {1008, low},
        {1007, lowLevel}, {1, ok},          {2, cancel},       {1001, view},     {1000, browse},
        {1013, preview}, {3, nextButton},   {4, prevButton}};
    QWidget* previous = nullptr;
    for (const auto& [id, w] : ordered) {
        m_controls.insert(id, w);
        w->setObjectName(QString::number(id));
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    auto* source = new QGroupBox(QStringLiteral("Source"), this);
    auto* sourceGrid = new QGridLayout(source);
    auto* fileLabel = new QLabel(QStringLiteral("Файл:"), source);
    fileLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sourceGrid->addWidget(fileLabel, 0, 0);
    sourceGrid->addWidget(view, 0, 2, Qt::AlignRight);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(m_file);
    fileRow->addWidget(browse);
    sourceGrid->addLayout(fileRow, 1, 0, 1, 3);
    sourceGrid->addWidget(new QLabel(QStringLiteral("Коментарий:"), source), 2, 0);
    sourceGrid->addWidget(m_comment, 2, 1, 1, 2);
    sourceGrid->setColumnStretch(1, 1);

    auto* destination = new QGroupBox(QStringLiteral("Destination"), this);
    auto* destRow = new QHBoxLayout(destination);
    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("Имя:"), destination), 0, 0);
    fields->addWidget(name, 0, 1);
    fields->addWidget(new QLabel(QStringLiteral("Mips:"), destination), 1, 0);
    fields->addWidget(m_mips, 1, 1);
    fields->addWidget(new QLabel(QStringLiteral("Формат:"), destination), 2, 0);
    fields->addWidget(m_format, 2, 1);
    fields->addWidget(preview, 3, 0, 1, 2, Qt::AlignLeft);
    fields->setRowStretch(4, 1);
    destRow->addLayout(fields, 1);
    auto* lods = new QGroupBox(QStringLiteral("LODs"), destination);
    auto* lodGrid = new QGridLayout(lods);
    lodGrid->addWidget(high, 0, 0);
    lodGrid->addWidget(highLevel, 0, 1);
    lodGrid->addWidget(medium, 1, 0);
    lodGrid->addWidget(mediumLevel, 1, 1);
    lodGrid->addWidget(low, 2, 0);
    lodGrid->addWidget(lowLevel, 2, 1);
    for (QLineEdit* e : {highLevel, mediumLevel, lowLevel})
        e->setMaximumWidth(60);
    destRow->addWidget(lods, 0, Qt::AlignTop);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    buttons->addWidget(prevButton);
    buttons->addWidget(nextButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(source);
    layout->addWidget(destination);
    layout->addLayout(buttons);

    useModalFrame(*this);

    connect(ok, &QPushButton::clicked, this, &CFileDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CFileDlg::reject);
    connect(nextButton, &QPushButton::clicked, this, &CFileDlg::next);
    connect(prevButton, &QPushButton::clicked, this, &CFileDlg::previous);
    connect(browse, &QPushButton::clicked, this, &CFileDlg::chooseSource);
    connect(view, &QPushButton::clicked, this, &CFileDlg::openSource);
    connect(preview, &QPushButton::clicked, this, [this] { previewConversion(); });
    auto* altRight = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Right), this);
    connect(altRight, &QShortcut::activated, this, &CFileDlg::next);
    auto* altLeft = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Left), this);
    connect(altLeft, &QShortcut::activated, this, &CFileDlg::previous);

    initialise();
}

QWidget* CFileDlg::control(int id) const
{
    return m_controls.value(id, nullptr);
}

void CFileDlg::initialise()
{
    for (const Field* f = kFieldTable; f->name; ++f) {
        QWidget* w = control(f->controlId);
        if (!w)
            continue;
        auto it = std::find_if(m_texture.begin(), m_texture.end(), [&](const auto& p) { return p.first == f->name; });
        if (it == m_texture.end()) {
            w->setEnabled(false);
            continue;
        }
        const QString value = QString::fromStdString(it->second);
        m_shown.insert(f->controlId, value);
        if (auto* box = qobject_cast<QCheckBox*>(w))
            box->setCheckState(value == QLatin1String("1")   ? Qt::Checked
                               : value == QLatin1String("0") ? Qt::Unchecked
                                                             : Qt::PartiallyChecked);
        else if (auto* combo = qobject_cast<QComboBox*>(w))
            combo->setEditText(value);
        else if (auto* edit = qobject_cast<QLineEdit*>(w))
            edit->setText(value);
    }
}

void CFileDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QWidget* w = control(s_focusId); w && w->isEnabled())
        w->setFocus(Qt::OtherFocusReason);
}

QString CFileDlg::textOf(int id) const
{
    QWidget* w = control(id);
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    return {};
}

void CFileDlg::writeBack()
{
    for (const Field* f = kFieldTable; f->name; ++f) {
        QWidget* w = control(f->controlId);
        auto it = std::find_if(m_texture.begin(), m_texture.end(), [&](const auto& p) { return p.first == f->name; });
        if (!w || it == m_texture.end())
            continue;
        if (auto* box = qobject_cast<QCheckBox*>(w)) {
            it->second.assign(checkValue(box->checkState()));
        } else if (const QString text = textOf(f->controlId); text != m_shown.value(f->controlId)) {
            // Only what was edited is written: a value whose bytes are not
            // UTF-8 (an old project's code page) shows with replacement
            // characters and must come back as it was stored.
            it->second = text.toStdString();
        }
    }
    // The combo boxes' edit fields are children of the control that counts.
    for (QWidget* focus = QApplication::focusWidget(); focus; focus = focus->parentWidget()) {
        const int id = m_controls.key(focus, 0);
        if (id) {
            s_focusId = id;
            break;
        }
        if (focus == this)
            break;
    }
}

void CFileDlg::accept()
{
    writeBack();
    done(1);
}

void CFileDlg::reject()
{
    done(2);
}

void CFileDlg::next()
{
    writeBack();
    done(kNext);
}

void CFileDlg::previous()
{
    writeBack();
    done(kPrevious);
}

void CFileDlg::chooseSource()
{
    const QStringList files =
        m_ui.openFileNames(QStringLiteral("Select Image files"), QStringLiteral("All Files (*.*)"), false);
    if (!files.isEmpty())
        m_file->setText(files.first());
}

void CFileDlg::openSource()
{
    m_ui.openWithDesktop(m_file->text());
}

PreviewWindow* CFileDlg::previewConversion()
{
    return PreviewWindow::runConversion(m_file->text(), m_format->currentText(), m_mips->currentText(), m_ui, this);
}
