#include "app/frmTraffic.h"

#include "app/ProgramInfo.h"
#include "app/TrafficLog.h"
#include "protocol/MessageMeaning.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QShowEvent>
#include <QStandardPaths>
#include <QVBoxLayout>

using MessageMeaning::Count;

namespace {

constexpr int kWidth = 900;
constexpr int kHeight = 420;

const QString kPauseCaption = QStringLiteral("&Pause");
const QString kResumeCaption = QStringLiteral("&Resume");

// "1 line", "12,345 lines".
QString Amount(qint64 n, const char *one, const char *many) {
    return Count(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

// The log as text: one line each, every line ended.
QString Text(const QStringList &lines) {
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

frmTraffic::frmTraffic(SwitcherLink &link, QWidget *parent)
    : QWidget(parent, Qt::Window), m_link(link), m_log(new TrafficLog(this)) {
    setObjectName(QStringLiteral("frmTraffic"));
    setWindowTitle(QStringLiteral("Traffic Log"));
    // A tool beside the main window: it must not keep the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_log->setObjectName(QStringLiteral("trafficLog"));

    txtTraffic = new QPlainTextEdit(this);
    txtTraffic->setObjectName(QStringLiteral("txtTraffic"));
    txtTraffic->setAccessibleName(QStringLiteral("Traffic"));
    txtTraffic->setReadOnly(true);
    txtTraffic->setUndoRedoEnabled(false);
    txtTraffic->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtTraffic->setMaximumBlockCount(static_cast<int>(TrafficLog::kMaxLines));
    txtTraffic->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    lblTrafficStatus = new QLabel(this);
    lblTrafficStatus->setObjectName(QStringLiteral("lblTrafficStatus"));
    lblTrafficStatus->setAccessibleName(QStringLiteral("Log status"));
    lblTrafficStatus->setTextFormat(Qt::PlainText);

    cmdPause = new QPushButton(kPauseCaption, this);
    cmdPause->setObjectName(QStringLiteral("cmdPause"));
    cmdPause->setCheckable(true);
    cmdTrafficClear = new QPushButton(QStringLiteral("C&lear"), this);
    cmdTrafficClear->setObjectName(QStringLiteral("cmdTrafficClear"));
    cmdTrafficClear->setAccessibleName(QStringLiteral("Clear log"));
    cmdCopy = new QPushButton(QStringLiteral("&Copy"), this);
    cmdCopy->setObjectName(QStringLiteral("cmdCopy"));
    cmdCopy->setAccessibleName(QStringLiteral("Copy log"));
    cmdSave = new QPushButton(QStringLiteral("&Save..."), this);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    cmdSave->setAccessibleName(QStringLiteral("Save log"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(lblTrafficStatus, 1);
    for (QPushButton *button : {cmdPause, cmdTrafficClear, cmdCopy, cmdSave})
        buttons->addWidget(button);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(txtTraffic, 1);
    layout->addLayout(buttons);
    resize(kWidth, kHeight);

    connect(cmdPause, &QPushButton::toggled, this, &frmTraffic::cmdPause_Toggled);
    connect(cmdTrafficClear, &QPushButton::clicked, this, &frmTraffic::cmdClear_Click);
    connect(cmdCopy, &QPushButton::clicked, this, &frmTraffic::cmdCopy_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmTraffic::cmdSave_Click);
    connect(m_log, &TrafficLog::linesAdded, this, &frmTraffic::showLines);
    connect(m_log, &TrafficLog::countsChanged, this, &frmTraffic::showCounts);
    connect(m_log, &TrafficLog::cleared, txtTraffic, &QPlainTextEdit::clear);
    showCounts();
}

// Opening and closing the window; minimising and restoring it (spontaneous events from the
// window system) change nothing.
void frmTraffic::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        m_log->watch(m_link);
}

void frmTraffic::hideEvent(QHideEvent *event) {
    if (!event->spontaneous())
        m_log->unwatch();
    QWidget::hideEvent(event);
}

// One batch as one append: the view lays the lines out once, and drops the oldest beyond its
// block limit, which is the log's own.
void frmTraffic::showLines(const QStringList &lines) {
    txtTraffic->appendPlainText(lines.join(QLatin1Char('\n')));
    showCounts();
}

void frmTraffic::showCounts() {
    QString text = Amount(m_log->lines().size(), "line", "lines");
    if (const qint64 dropped = m_log->droppedLines())
        text +=
            QStringLiteral(", %1 dropped (the log keeps the last %2)")
                .arg(Amount(dropped, "older line", "older lines"), Count(TrafficLog::kMaxLines));
    if (m_log->paused())
        text += QStringLiteral("; paused, %1 not shown")
                    .arg(Amount(m_log->skippedWhilePaused(), "message", "messages"));
    lblTrafficStatus->setText(text);
}

void frmTraffic::cmdPause_Toggled(bool paused) {
    cmdPause->setText(paused ? kResumeCaption : kPauseCaption);
    m_log->setPaused(paused);
}

void frmTraffic::cmdClear_Click() {
    m_log->clear();
}

void frmTraffic::cmdCopy_Click() {
    QGuiApplication::clipboard()->setText(Text(m_log->lines()));
}

void frmTraffic::cmdSave_Click() {
    QFileDialog dialog(this, QStringLiteral("Save Traffic Log"));
    dialog.setObjectName(QStringLiteral("dlgSaveTraffic"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setDirectory(m_saveFolder.isEmpty()
                            ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                            : m_saveFolder);
    dialog.selectFile(
        QStringLiteral("traffic-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    saveTo(dialog.selectedFiles().constFirst());
}

void frmTraffic::saveTo(const QString &path) {
    const QByteArray text = Text(m_log->lines()).toUtf8();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) {
        m_saveFolder = QFileInfo(path).absolutePath();
        return;
    }
    QMessageBox box(QMessageBox::Warning, ProgramInfo::kDisplayName,
                    QStringLiteral("The traffic log could not be saved to %1: %2")
                        .arg(QDir::toNativeSeparators(path), file.errorString()),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("saveFailure"));
    box.exec();
}
