#include "app/pages/AddPrimaryPage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/pages/PageLayout.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace fieldsmith::app {

QStringList TAddPrimaryPage::keyNames() {
    return {"BRUKO", "DORVA", "FASO", "GEPS",  "HUX",  "JEK",   "MIKU", "NUBE",
            "QEMB",  "QZ",    "RAPO", "SOLVI", "TAVO", "WIRGO", "YUSK", "ZOLF"};
}

TAddPrimaryPage::TAddPrimaryPage(TFieldsmithForm& form, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Seite5"));
    auto* outer = new QVBoxLayout(this);

    QGridLayout* t;
    QGroupBox* table = makeGroup(QStringLiteral("Table"), this, &t);
    auto* AliasBox = makePicker(QStringLiteral("AliasBox"), table);
    auto* AliasDir = makeDirLabel(QStringLiteral("AliasDir"), table);
    auto* TabellenBox = makePicker(QStringLiteral("TabellenBox"), table);
    auto* FeldBox = makePicker(QStringLiteral("FeldBox"), table);
    addRow(t, makeLabel(QStringLiteral("Alias: "), table), AliasBox);
    addRow(t, nullptr, AliasDir);
    addRow(t, makeLabel(QStringLiteral("Table: "), table), TabellenBox);
    addRow(t, makeLabel(QStringLiteral("Target Field: "), table), FeldBox);
    addRow(t, nullptr,
           makeCheck(QStringLiteral("LeerFeldCheck"),
                     QStringLiteral("update only when the target field is empty"), table));
    outer->addWidget(table);

    QGridLayout* k;
    QGroupBox* keys = makeGroup(QStringLiteral("Key values"), this, &k);
    auto* useNumberRadio =
        makeRadio(QStringLiteral("useNumberRadio"), QStringLiteral("start with number: "), keys);
    auto* getPrimRadio = makeRadio(QStringLiteral("getPrimRadio"),
                                   QStringLiteral("get primary values from: "), keys);
    auto* source = new QButtonGroup(this);
    source->addButton(useNumberRadio);
    source->addButton(getPrimRadio);
    useNumberRadio->setChecked(true);
    auto* PrimaryBox = makePicker(QStringLiteral("PrimaryBox"), keys, true);
    PrimaryBox->setEntries(keyNames());
    k->addWidget(useNumberRadio, 0, 0);
    k->addWidget(makeEdit(QStringLiteral("NumberEdit"), keys), 0, 1);
    k->addWidget(getPrimRadio, 1, 0);
    k->addWidget(PrimaryBox, 1, 1);
    k->addWidget(makeNote(QStringLiteral("name+MAX.DB table must exist in Alias KESTREL"), keys,
                          QStringLiteral("PrimaryNote")),
                 1, 2);
    k->addWidget(
        makeCheck(QStringLiteral("AddPrimUsePrefixCheck"), QStringLiteral("use Prefix:"), keys), 2,
        0);
    k->addWidget(makeEdit(QStringLiteral("AddPrimPrefixEdit"), keys), 2, 1);
    k->addWidget(makeLabel(QStringLiteral("start at record:"), keys), 3, 0);
    k->addWidget(makeEdit(QStringLiteral("AddPrimStartRecordEdit"), keys), 3, 1);
    auto* ChangeOnFeldChangeCheck =
        makeCheck(QStringLiteral("ChangeOnFeldChangeCheck"),
                  QStringLiteral("new number when field value changes:"), keys);
    auto* ChangeOnFeldBox = makePicker(QStringLiteral("ChangeOnFeldBox"), keys, true);
    ChangeOnFeldBox->setEntries(keyNames());
    k->addWidget(ChangeOnFeldChangeCheck, 4, 0);
    k->addWidget(ChangeOnFeldBox, 4, 1);
    k->setColumnStretch(1, 1);
    k->setColumnStretch(2, 1);
    outer->addWidget(keys);

    auto* note = makeNote(
        QStringLiteral("The \"Primary Field\" must NOT be indexed yet!   Otherwise the assignment "
                       "of new values is unpredictable!  Existing Indexes will be removed before "
                       "this operation against the target table."),
        this, QStringLiteral("AddPrimNote"));
    note->setStyleSheet(QStringLiteral("color: maroon;"));
    outer->addWidget(note);
    outer->addStretch(1);

    PickerWiring& p = form.pickers();
    p.aliasBox(AliasBox, {TabellenBox});
    p.directoryLabel(AliasBox, AliasDir, PickerWiring::DirLabelEvent::OnLeaving);
    p.tableBox(TabellenBox, AliasBox, {});
    p.fieldBox(FeldBox, AliasBox, TabellenBox);
    p.fieldBox(ChangeOnFeldBox, AliasBox, TabellenBox);
}

} // namespace fieldsmith::app
