#include "ui/StatusDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace fieldsmith::ui {

namespace {
const QSize kDesignSize(300, 130);
}

TStatusDlg::TStatusDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("StatusDlg"));
    setWindowTitle(QStringLiteral("Status"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    DateiLAbel = new QLabel(QStringLiteral("Filename"), this);
    DateiLAbel->setObjectName(QStringLiteral("DateiLAbel"));
    DateiLAbel->hide();
    auto* generatedLabel = new QLabel(QStringLiteral("0 generated"), this);
    generatedLabel->setObjectName(QStringLiteral("generatedLabel"));
    generatedLabel->setStyleSheet(QStringLiteral("color: red;"));
    generatedLabel->hide();
    CountLabel = new QLabel(QStringLiteral("0 of 0"), this);
    CountLabel->setObjectName(QStringLiteral("CountLabel"));
    CountLabel->setStyleSheet(QStringLiteral("color: navy;"));
    CountLabel->setAlignment(Qt::AlignCenter);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    layout->addWidget(DateiLAbel);
    layout->addWidget(generatedLabel);
    layout->addWidget(CountLabel);
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    connect(cancel, &QPushButton::clicked, this, &TStatusDlg::CancelBtnClick);

    const QScreen* screen = parent ? parent->screen() : nullptr;
    resize(scaledSize(kDesignSize, screen ? screen->logicalDotsPerInch() : 96.0));
}

QSize TStatusDlg::scaledSize(QSize designSize, double dotsPerInch) {
    if (dotsPerInch <= 96.0) return designSize;
    return {designSize.width() * 120 / 96, designSize.height() * 120 / 96};
}

void TStatusDlg::setCount(const QString& text) {
    CountLabel->setText(text);
}

void TStatusDlg::hideFileRow() {
    DateiLAbel->hide();
}

void TStatusDlg::closeEvent(QCloseEvent* event) {
    // Only the run that opened the dialog closes it.
    event->ignore();
}

void TStatusDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) return; // no closing by Escape either
    QDialog::keyPressEvent(event);
}

} // namespace fieldsmith::ui
