#include "app/pages/NewValueIfPage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/pages/PageLayout.h"
#include "ui/EnterEdit.h"

#include <QButtonGroup>
#include <QVBoxLayout>

namespace fieldsmith::app {

TNewValueIfPage::TNewValueIfPage(TFieldsmithForm& form, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Seite7"));
    auto* outer = new QVBoxLayout(this);

    QGridLayout* t;
    QGroupBox* table = makeGroup(QStringLiteral("IF"), this, &t);
    auto* Change3Alias = makePicker(QStringLiteral("Change3Alias"), table);
    auto* AliasChange3Dir = makeDirLabel(QStringLiteral("AliasChange3Dir"), table);
    auto* Change3Table = makePicker(QStringLiteral("Change3Table"), table);
    auto* Change3Feld = makePicker(QStringLiteral("Change3Feld"), table);
    addRow(t, makeLabel(QStringLiteral("DB-Alias: "), table), Change3Alias);
    addRow(t, nullptr, AliasChange3Dir);
    addRow(t, makeLabel(QStringLiteral("Table: "), table), Change3Table);
    addRow(t, makeLabel(QStringLiteral("IF-Field: "), table), Change3Feld);
    addRow(t, makeLabel(QStringLiteral("IF field contains: "), table),
           makeEnterEdit(QStringLiteral("Change3If"), table));
    outer->addWidget(table);

    QGridLayout* c;
    QGroupBox* then = makeGroup(QStringLiteral("THEN CHANGE"), this, &c);
    auto* Change3Feld2 = makePicker(QStringLiteral("Change3Feld2"), then);
    addRow(c, makeLabel(QStringLiteral("Change-Field: "), then), Change3Feld2);
    auto* ChangeUseString =
        makeRadio(QStringLiteral("ChangeUseString"), QStringLiteral("to this string: "), then);
    auto* ChangeUseIfField =
        makeRadio(QStringLiteral("ChangeUseIfField"),
                  QStringLiteral("use IF-Field value  [ = Copy IF-Field to Change-Field  ]"), then);
    ChangeUseOtherField = makeRadio(
        QStringLiteral("ChangeUseOtherField"),
        QStringLiteral("use  other Field value  [ = Copy other Field to Change-Field  ]"), then);
    auto* group = new QButtonGroup(this);
    for (QRadioButton* b : {ChangeUseString, ChangeUseIfField, ChangeUseOtherField})
        group->addButton(b);
    ChangeUseString->setChecked(true);
    int row = c->rowCount();
    c->addWidget(ChangeUseString, row, 0, 1, 2);
    addRow(c, makeLabel(QStringLiteral("new Field value: "), then),
           makeEnterEdit(QStringLiteral("Change3Then"), then));
    c->addWidget(makeLabel(QStringLiteral("OR"), then), c->rowCount(), 0);
    c->addWidget(ChangeUseIfField, c->rowCount(), 0, 1, 2);
    c->addWidget(makeLabel(QStringLiteral("OR"), then), c->rowCount(), 0);
    c->addWidget(ChangeUseOtherField, c->rowCount(), 0, 1, 2);
    OtherFieldLabel =
        makeLabel(QStringLiteral("Other Field: "), then, QStringLiteral("OtherFieldLabel"));
    OtherFieldBox = makePicker(QStringLiteral("OtherFieldBox"), then, true);
    addRow(c, OtherFieldLabel, OtherFieldBox);
    outer->addWidget(then);
    outer->addStretch(1);

    PickerWiring& p = form.pickers();
    p.aliasBox(Change3Alias, {Change3Table, Change3Feld});
    p.directoryLabel(Change3Alias, AliasChange3Dir, PickerWiring::DirLabelEvent::OnChange);
    p.tableBox(Change3Table, Change3Alias, {});
    for (TPickerBox* box : {Change3Feld, Change3Feld2, OtherFieldBox})
        p.fieldBox(box, Change3Alias, Change3Table);

    for (QRadioButton* b : {ChangeUseString, ChangeUseIfField, ChangeUseOtherField})
        connect(b, &QRadioButton::toggled, this, &TNewValueIfPage::updateIfChangeAnsicht);
    updateIfChangeAnsicht();
}

void TNewValueIfPage::updateIfChangeAnsicht() {
    const bool show = ChangeUseOtherField->isChecked();
    OtherFieldLabel->setVisible(show);
    OtherFieldBox->setVisible(show);
}

} // namespace fieldsmith::app
