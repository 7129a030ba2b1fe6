#include "app/pages/CsvPage.h"

#include "app/FieldsmithForm.h"
#include "app/TextCodec.h"
#include "app/pages/PageLayout.h"
#include "app/run/PageRules.h"
#include "ui/DateiWahl.h"

#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace fieldsmith::app {

TCsvPage::TCsvPage(TFieldsmithForm& form, QWidget* parent) : QWidget(parent), form_(form) {
    setObjectName(QStringLiteral("CSVMakeTable"));
    auto* outer = new QVBoxLayout(this);

    auto* CSVOptionsPanel = new QGroupBox(QStringLiteral("Direction"), this);
    CSVOptionsPanel->setObjectName(QStringLiteral("CSVOptionsPanel"));
    auto* d = new QHBoxLayout(CSVOptionsPanel);
    GenParadoxFromCSV = makeRadio(QStringLiteral("GenParadoxFromCSV"),
                                  QStringLiteral("generate Paradox Table"), CSVOptionsPanel);
    auto* GenCSVFromParadox = makeRadio(QStringLiteral("GenCSVFromParadox"),
                                        QStringLiteral("generate CSV File"), CSVOptionsPanel);
    auto* direction = new QButtonGroup(this);
    direction->addButton(GenParadoxFromCSV);
    direction->addButton(GenCSVFromParadox);
    GenParadoxFromCSV->setChecked(true);
    d->addWidget(GenParadoxFromCSV);
    d->addWidget(GenCSVFromParadox);
    d->addStretch(1);
    outer->addWidget(CSVOptionsPanel);

    QGridLayout* f;
    QGroupBox* file = makeGroup(QStringLiteral("CSV File"), this, &f);
    CSVEdit = makeEdit(QStringLiteral("CSVEdit"), file);
    auto* DirBtn = new QToolButton(file);
    DirBtn->setObjectName(QStringLiteral("DirBtn"));
    DirBtn->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    f->addWidget(makeLabel(QStringLiteral("CSV File: "), file), 0, 0);
    f->addWidget(CSVEdit, 0, 1);
    f->addWidget(DirBtn, 0, 2);
    auto* FeldSeparEdit = makeEdit(QStringLiteral("FeldSeparEdit"), file);
    auto* FeldEncloseEdit = makeEdit(QStringLiteral("FeldEncloseEdit"), file);
    FeldSeparEdit->setMaximumWidth(50);
    FeldEncloseEdit->setMaximumWidth(50);
    f->addWidget(makeLabel(QStringLiteral("Fields separated by: "), file), 1, 0);
    f->addWidget(FeldSeparEdit, 1, 1, Qt::AlignLeft);
    f->addWidget(makeLabel(QStringLiteral("Fields enclosed with: "), file), 2, 0);
    f->addWidget(FeldEncloseEdit, 2, 1, Qt::AlignLeft);
    FeldNamenCheck = makeCheck(QStringLiteral("FeldNamenCheck"),
                               QStringLiteral("get Field Names from first line"), file);
    f->addWidget(FeldNamenCheck, 3, 1);
    CsvUseEncloseCharForFieldsCheck =
        makeCheck(QStringLiteral("CsvUseEncloseCharForFieldsCheck"),
                  QStringLiteral("use Enclose-character for Fieldnames "), file);
    noEncloseCharForEmptyFieldsCheck =
        makeCheck(QStringLiteral("noEncloseCharForEmptyFieldsCheck"),
                  QStringLiteral("no Enclose-character for empty fields"), file);
    f->addWidget(CsvUseEncloseCharForFieldsCheck, 4, 1);
    f->addWidget(noEncloseCharForEmptyFieldsCheck, 5, 1);
    CsvUseEncloseCharForFieldsCheck->hide();
    noEncloseCharForEmptyFieldsCheck->hide();
    MemoNote = makeNote(QStringLiteral("(all fields longer than 255 will become Memo fields, "
                                       "others will become String fields!)"),
                        file, QStringLiteral("MemoNote"));
    f->addWidget(MemoNote, 6, 0, 1, 3);
    outer->addWidget(file);

    QGridLayout* t;
    QGroupBox* target = TargetGroup = makeGroup(QString(), this, &t);
    target->setObjectName(QStringLiteral("TargetGroup"));
    TargetTableLabel =
        makeLabel(QStringLiteral("Target Table Name"), target, QStringLiteral("TargetTableLabel"));
    TargetTableLabel->setStyleSheet(QStringLiteral("font-weight: bold;"));
    PdxNameLabel =
        makeLabel(QStringLiteral("Paradox Table Name: "), target, QStringLiteral("PdxNameLabel"));
    CSVtoPdxEdit = makeEdit(QStringLiteral("CSVtoPdxEdit"), target);
    t->addWidget(TargetTableLabel, 0, 0, 1, 2);
    addRow(t, PdxNameLabel, CSVtoPdxEdit);
    outer->addWidget(target);
    outer->addStretch(1);

    connect(CSVEdit, &QLineEdit::textChanged, this, &TCsvPage::UpdateCsvTargetName);
    CSVEdit->installEventFilter(this);
    connect(DirBtn, &QToolButton::clicked, this, &TCsvPage::DirBtnClick);
    connect(GenParadoxFromCSV, &QRadioButton::clicked, this, &TCsvPage::UpdateCsvOptions);
    connect(GenCSVFromParadox, &QRadioButton::clicked, this, &TCsvPage::UpdateCsvOptions);
}

bool TCsvPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == CSVEdit && event->type() == QEvent::FocusOut) UpdateCsvTargetName();
    return QWidget::eventFilter(watched, event);
}

void TCsvPage::UpdateCsvTargetName() {
    const QString target = fromFileName(run::csvTargetName(toFileName(CSVEdit->text())));
    if (CSVtoPdxEdit->text() != target) CSVtoPdxEdit->setText(target);
}

void TCsvPage::UpdateCsvOptions() {
    const bool import = GenParadoxFromCSV->isChecked();
    FeldNamenCheck->setText(import ? QStringLiteral("get Field Names from first line")
                                   : QStringLiteral("write Field Names to first line"));
    MemoNote->setVisible(import);
    TargetTableLabel->setVisible(import);
    PdxNameLabel->setVisible(import);
    CSVtoPdxEdit->setVisible(import);
    TargetGroup->setVisible(import); // an empty frame otherwise
    CsvUseEncloseCharForFieldsCheck->setVisible(!import);
    noEncloseCharForEmptyFieldsCheck->setVisible(!import);
    if (!import)
        form_.message(run::MessageKind::Information,
                      QStringLiteral("Table must be opened with \"Table View\" function first!\r"
                                     "The Table can be sorted as required."));
}

void TCsvPage::DirBtnClick() {
    ui::TDateiWahl picker(this);
    picker.setFileMask(QStringLiteral("*.csv"));
    picker.exec();
    if (!picker.fileEditText().contains(QLatin1Char('*'))) CSVEdit->setText(picker.resultPath());
}

} // namespace fieldsmith::app
