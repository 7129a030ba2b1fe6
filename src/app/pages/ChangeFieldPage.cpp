#include "app/pages/ChangeFieldPage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/pages/PageLayout.h"

#include <QVBoxLayout>

namespace fieldsmith::app {

TChangeFieldPage::TChangeFieldPage(TFieldsmithForm& form, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Seite2"));
    auto* outer = new QVBoxLayout(this);

    QGridLayout* t;
    QGroupBox* table = makeGroup(QStringLiteral("Table"), this, &t);
    auto* Change1Alias = makePicker(QStringLiteral("Change1Alias"), table);
    auto* AliasDir3 = makeDirLabel(QStringLiteral("AliasDir3"), table);
    auto* Change1Table = makePicker(QStringLiteral("Change1Table"), table);
    auto* Change1Field = makePicker(QStringLiteral("Change1Field"), table);
    addRow(t, makeLabel(QStringLiteral("Alias: "), table), Change1Alias);
    addRow(t, nullptr, AliasDir3);
    addRow(t, makeLabel(QStringLiteral("Table: "), table), Change1Table);
    addRow(t, makeLabel(QStringLiteral("Field: "), table), Change1Field);
    outer->addWidget(table);

    QGridLayout* r;
    QGroupBox* replace = makeGroup(QStringLiteral("Replace"), this, &r);
    addRow(r, makeLabel(QStringLiteral("change the string: "), replace),
           makeEdit(QStringLiteral("vonEdit2"), replace));
    addRow(r, makeLabel(QStringLiteral("into the new string: "), replace),
           makeEdit(QStringLiteral("zuEdit2"), replace));
    addRow(
        r, nullptr,
        makeCheck(QStringLiteral("CaseBox"), QStringLiteral("compare case-insensitive"), replace));
    outer->addWidget(replace);

    QGridLayout* c;
    QGroupBox* condition = makeGroup(QStringLiteral("Condition"), this, &c);
    ChangeSubBedBox = makeCheck(QStringLiteral("ChangeSubBedBox"),
                                QStringLiteral("change only if the following is true:"), condition);
    BedingungFeld = makePicker(QStringLiteral("BedingungFeld"), condition, true);
    Bedingung = makeEdit(QStringLiteral("Bedingung"), condition);
    BedingungFeldLabel =
        makeLabel(QStringLiteral("Field: "), condition, QStringLiteral("BedingungFeldLabel"));
    BedingungLabel =
        makeLabel(QStringLiteral("starts (!) with: "), condition, QStringLiteral("BedingungLabel"));
    c->addWidget(ChangeSubBedBox, 0, 0, 1, 2);
    addRow(c, BedingungFeldLabel, BedingungFeld);
    addRow(c, BedingungLabel, Bedingung);
    outer->addWidget(condition);
    outer->addStretch(1);

    PickerWiring& p = form.pickers();
    p.aliasBox(Change1Alias, {Change1Table, Change1Field});
    p.directoryLabel(Change1Alias, AliasDir3, PickerWiring::DirLabelEvent::OnChange);
    p.tableBox(Change1Table, Change1Alias, {});
    p.fieldBox(Change1Field, Change1Alias, Change1Table);
    p.fieldBox(BedingungFeld, Change1Alias, Change1Table);

    connect(ChangeSubBedBox, &QCheckBox::toggled, this, &TChangeFieldPage::updateBedingungAnsicht);
    updateBedingungAnsicht();
}

void TChangeFieldPage::updateBedingungAnsicht() {
    const bool show = ChangeSubBedBox->isChecked();
    BedingungFeldLabel->setVisible(show);
    BedingungFeld->setVisible(show);
    BedingungLabel->setVisible(show);
    Bedingung->setVisible(show);
}

} // namespace fieldsmith::app
