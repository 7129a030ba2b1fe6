#include "ui/ZipMsgForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace fieldsmith::ui {

namespace {

QWidget* row(QWidget* parent, QLabel* label, QWidget* value) {
    auto* w = new QWidget(parent);
    auto* l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(label);
    l->addWidget(value, 1);
    return w;
}

} // namespace

TZipMsgForm::TZipMsgForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ZipMsgForm"));
    setWindowTitle(QStringLiteral("ZIP / UnZIP Status"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);

    ToolBar = new QToolBar(this);
    auto* CloseBtn = new QPushButton(QStringLiteral("OK"), ToolBar);
    CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
    CloseBtn->hide();
    connect(CloseBtn, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ToolBar);

    auto* FileBeingZipped = new QLabel(this);
    FileBeingZipped->setObjectName(QStringLiteral("FileBeingZipped"));
    auto* ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    FileRow = row(this, FileBeingZipped, ProgressBar1);
    auto* TotalProgressLabel = new QLabel(this);
    TotalProgressLabel->setObjectName(QStringLiteral("TotalProgressLabel"));
    auto* ProgressBar2 = new QProgressBar(this);
    ProgressBar2->setObjectName(QStringLiteral("ProgressBar2"));
    TotalRow = row(this, TotalProgressLabel, ProgressBar2);
    auto* TC8Label = new QLabel(this);
    TC8Label->setObjectName(QStringLiteral("TC8Label"));
    ArchiveRow = row(this, new QLabel(QStringLiteral("Update-Archiv-Datei: "), this), TC8Label);
    layout->addWidget(FileRow);
    layout->addWidget(TotalRow);
    layout->addWidget(ArchiveRow);

    RichEdit1 = new QPlainTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setReadOnly(true);
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(RichEdit1, 1);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    layout->addWidget(StatusBar1);
    resize(640, 420);
}

void TZipMsgForm::showLogOnly() {
    ToolBar->hide();
    FileRow->hide();
    TotalRow->hide();
    ArchiveRow->hide();
}

void TZipMsgForm::clearLog() {
    RichEdit1->clear();
}

void TZipMsgForm::appendLine(const QString& line) {
    RichEdit1->appendPlainText(line);
    RichEdit1->verticalScrollBar()->setValue(RichEdit1->verticalScrollBar()->maximum());
}

QStringList TZipMsgForm::lines() const {
    if (RichEdit1->document()->isEmpty()) return {};
    return RichEdit1->toPlainText().split(QLatin1Char('\n'));
}

} // namespace fieldsmith::ui
