#include "app/pages/DeletePage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/pages/PageLayout.h"
#include "ui/EnterEdit.h"

#include <QButtonGroup>
#include <QVBoxLayout>

namespace fieldsmith::app {

TDeletePage::TDeletePage(TFieldsmithForm& form, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("DelPage"));
    auto* outer = new QVBoxLayout(this);

    QGridLayout* t;
    QGroupBox* table = makeGroup(QStringLiteral("Table"), this, &t);
    auto* AliasDel = makePicker(QStringLiteral("AliasDel"), table);
    auto* AliasDelDir = makeDirLabel(QStringLiteral("AliasDelDir"), table);
    auto* TableDel = makePicker(QStringLiteral("TableDel"), table);
    addRow(t, makeLabel(QStringLiteral("Alias: "), table), AliasDel);
    addRow(t, nullptr, AliasDelDir);
    addRow(t, makeLabel(QStringLiteral("Table: "), table), TableDel);
    outer->addWidget(table);

    QGridLayout* m;
    QGroupBox* mode = makeGroup(QStringLiteral("Delete"), this, &m);
    auto* DelOpt1 = makeRadio(QStringLiteral("DelOpt1"),
                              QStringLiteral("delete first n number of records"), mode);
    auto* DelOpt2 =
        makeRadio(QStringLiteral("DelOpt2"),
                  QStringLiteral("delete only records that do not have a value in field: "), mode);
    auto* group = new QButtonGroup(this);
    group->addButton(DelOpt1);
    group->addButton(DelOpt2);
    DelOpt2->setChecked(true);
    auto* FieldDel = makeEnterEdit(QStringLiteral("FieldDel"), mode);
    FieldDel->setMaximumWidth(120);
    auto* DelFeldBox = makePicker(QStringLiteral("DelFeldBox"), mode);
    m->addWidget(DelOpt1, 0, 0, 1, 3);
    m->addWidget(makeLabel(QStringLiteral("Number of records: "), mode), 1, 0);
    m->addWidget(FieldDel, 1, 1);
    m->addWidget(makeLabel(QStringLiteral("Number of records to be deleted from table"), mode), 1,
                 2);
    m->addWidget(DelOpt2, 2, 0, 1, 3);
    m->addWidget(makeLabel(QStringLiteral("Field: "), mode), 3, 0);
    m->addWidget(DelFeldBox, 3, 1, 1, 2);
    m->setColumnStretch(1, 0);
    m->setColumnStretch(2, 1);
    outer->addWidget(mode);
    outer->addStretch(1);

    PickerWiring& p = form.pickers();
    p.aliasBox(AliasDel, {FieldDel, TableDel});
    p.directoryLabel(AliasDel, AliasDelDir, PickerWiring::DirLabelEvent::OnChange);
    p.tableBox(TableDel, AliasDel, {FieldDel});
    p.fieldBox(DelFeldBox, AliasDel, TableDel);
}

} // namespace fieldsmith::app
