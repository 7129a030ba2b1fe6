#include "app/pages/CreateTablePage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/TextCodec.h"
#include "app/pages/PageLayout.h"
#include "app/run/PageRules.h"
#include "ui/EnterEdit.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace fieldsmith::app {

TCreateTablePage::TCreateTablePage(TFieldsmithForm& form, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("CreateTableSeite"));
    auto* outer = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    outer->addLayout(row);

    QGridLayout* s;
    QGroupBox* source = makeGroup(QStringLiteral("Source Table properties: "), this, &s);
    auto* NeuTabAlias = makePicker(QStringLiteral("NeuTabAlias"), source);
    NeuTabBox = makePicker(QStringLiteral("NeuTabBox"), source);
    addRow(s, makeLabel(QStringLiteral("DB-Alias: "), source), NeuTabAlias);
    addRow(s, makeLabel(QStringLiteral("Table: "), source), NeuTabBox);
    addRow(
        s, nullptr,
        makeCheck(QStringLiteral("IndexesCheck"), QStringLiteral("include all Indexes: "), source));
    addRow(
        s, nullptr,
        makeCheck(QStringLiteral("CopyAllRecsCheck"), QStringLiteral("copy all records:"), source));
    s->setRowStretch(s->rowCount(), 1);
    row->addWidget(source);

    QGridLayout* t;
    QGroupBox* target = makeGroup(QStringLiteral("New Table: "), this, &t);
    auto* NeuTab2Alias = makePicker(QStringLiteral("NeuTab2Alias"), target);
    NeuTabelleEdit = makeEnterEdit(QStringLiteral("NeuTabelleEdit"), target);
    addRow(t, makeLabel(QStringLiteral("DB-Alias: "), target), NeuTab2Alias);
    addRow(t, makeLabel(QStringLiteral("new Table: "), target), NeuTabelleEdit);
    addRow(t, nullptr,
           makeCheck(QStringLiteral("OracleCheck"), QStringLiteral("Target is an ORACLE table"),
                     target));
    t->setRowStretch(t->rowCount(), 1);
    row->addWidget(target);
    outer->addStretch(1);

    PickerWiring& p = form.pickers();
    p.aliasBox(NeuTabAlias, {NeuTabBox});
    p.tableBox(NeuTabBox, NeuTabAlias, {});
    p.aliasBox(NeuTab2Alias, {});
    connect(NeuTabBox, &QComboBox::currentTextChanged, this, &TCreateTablePage::NeuTabBoxChange);
}

void TCreateTablePage::NeuTabBoxChange() {
    const QString source = NeuTabBox->boxText();
    if (source.isEmpty()) return;
    NeuTabelleEdit->setText(fromFileName(run::newTableNameFor(toFileName(source))));
}

} // namespace fieldsmith::app
