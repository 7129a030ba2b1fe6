#include "ui/RegFileForm.h"

#include "ui/DateiWahl.h"
#include "ui/LanguageCode.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>

namespace fieldsmith::ui {

namespace {

QToolButton* button(const QString& name, QStyle::StandardPixmap icon, const QString& hint,
                    QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setToolTip(hint);
    b->setAutoRaise(true);
    return b;
}

} // namespace

TRegFileForm::TRegFileForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("RegFileForm"));
    setWindowTitle(QStringLiteral("Dateiname der Anwendung"));
    auto* grid = new QGridLayout(this);
    Label1 = new QLabel(QStringLiteral("Geben Sie den Dateinamen der Anwendung"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(QStringLiteral("einschliesslich der Verzeichnis-Angabe an:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    AnwendungEdit = new QLineEdit(this);
    AnwendungEdit->setObjectName(QStringLiteral("AnwendungEdit"));
    AnwendungEdit->setMinimumWidth(360);
    DirBtn = button(QStringLiteral("DirBtn"), QStyle::SP_DirOpenIcon,
                    QStringLiteral("Durchsuchen ..."), this);
    CancelBtn = button(QStringLiteral("CancelBtn"), QStyle::SP_DialogCancelButton,
                       QStringLiteral("Abbrechen"), this);
    DeleteBtn =
        button(QStringLiteral("DeleteBtn"), QStyle::SP_DialogOkButton, QStringLiteral("OK"), this);
    grid->addWidget(Label1, 0, 0, 1, 2);
    grid->addWidget(Label2, 1, 0, 1, 2);
    grid->addWidget(AnwendungEdit, 2, 0);
    grid->addWidget(DirBtn, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(DeleteBtn);
    buttons->addWidget(CancelBtn);
    grid->addLayout(buttons, 3, 0, 1, 2);
    connect(DirBtn, &QToolButton::clicked, this, &TRegFileForm::DirBtnClick);
    connect(CancelBtn, &QToolButton::clicked, this, &TRegFileForm::CancelBtnClick);
    connect(DeleteBtn, &QToolButton::clicked, this, &TRegFileForm::DeleteBtnClick);
    FormCreate();
}

void TRegFileForm::FormCreate() {
    // The string table's texts, for any language but German.
    if (GetLanguageCode() == QLatin1String("deu")) return;
    Label1->setText(QStringLiteral("Geben Sie den Dateinamen der "));
    Label2->setText(QStringLiteral("einschliesslich der Verzeichnis-Angabe an:"));
    setWindowTitle(QStringLiteral("Dateiname der Anwendung"));
}

void TRegFileForm::setPrompt(const QString& text) {
    Label1->setText(text);
}

QString TRegFileForm::program() const {
    return AnwendungEdit->text();
}

void TRegFileForm::DirBtnClick() {
    DirBtn->setCursor(Qt::WaitCursor);
    TDateiWahl picker(this);
    const int result = picker.exec();
    DirBtn->setCursor(Qt::ArrowCursor);
    if (result == QDialog::Accepted) AnwendungEdit->setText(picker.resultPath());
}

} // namespace fieldsmith::ui
