#include "app/pages/MergePage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/pages/PageLayout.h"
#include "ui/EnterEdit.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace fieldsmith::app {

TMergePage::TMergePage(TFieldsmithForm& form, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Seite4"));
    auto* outer = new QVBoxLayout(this);

    QGridLayout* t;
    QGroupBox* table = makeGroup(QStringLiteral("Table"), this, &t);
    auto* AliasMerge = makePicker(QStringLiteral("AliasMerge"), table);
    auto* AliasDir2 = makeDirLabel(QStringLiteral("AliasDir2"), table);
    auto* MergeTable = makePicker(QStringLiteral("MergeTable"), table);
    addRow(t, makeLabel(QStringLiteral("Alias: "), table), AliasMerge);
    addRow(t, nullptr, AliasDir2);
    addRow(t, makeLabel(QStringLiteral("Table: "), table), MergeTable);
    outer->addWidget(table);

    QGridLayout* f;
    QGroupBox* fields = makeGroup(QStringLiteral("Fields to merge"), this, &f);
    auto separator = [&](const char* name) {
        auto* edit = makeEnterEdit(QString::fromLatin1(name), fields);
        edit->setMaximumWidth(90);
        return edit;
    };
    auto* MergeFeld1 = makePicker(QStringLiteral("MergeFeld1"), fields);
    auto* MergeFeld2 = makePicker(QStringLiteral("MergeFeld2"), fields);
    auto* MergeFeld3 = makePicker(QStringLiteral("MergeFeld3"), fields);
    auto* MergeTargetFeld = makePicker(QStringLiteral("MergeTargetFeld"), fields);
    f->addWidget(makeLabel(QStringLiteral("Character(s): "), fields), 0, 0);
    f->addWidget(separator("Trenn0Edit"), 0, 1);
    f->addWidget(makeLabel(QStringLiteral("(optional)"), fields), 0, 2);
    f->addWidget(makeLabel(QStringLiteral("Field1: "), fields), 0, 3);
    f->addWidget(MergeFeld1, 0, 4);
    f->addWidget(makeLabel(QStringLiteral("Character(s): "), fields), 1, 0);
    f->addWidget(separator("Trenn1Edit"), 1, 1);
    f->addWidget(makeLabel(QStringLiteral("(optional)"), fields), 1, 2);
    f->addWidget(makeLabel(QStringLiteral("Field2: "), fields), 1, 3);
    f->addWidget(MergeFeld2, 1, 4);
    f->addWidget(makeLabel(QStringLiteral("Character(s): "), fields), 2, 0);
    f->addWidget(separator("Trenn2Edit"), 2, 1);
    f->addWidget(makeLabel(QStringLiteral("(optional)"), fields), 2, 2);
    f->addWidget(makeLabel(QStringLiteral("Field3: "), fields), 2, 3);
    f->addWidget(MergeFeld3, 2, 4);
    f->addWidget(makeLabel(QStringLiteral("Target Field: "), fields), 3, 3);
    f->addWidget(MergeTargetFeld, 3, 4);
    f->setColumnStretch(1, 0);
    f->setColumnStretch(4, 1);
    outer->addWidget(fields);

    QGridLayout* o;
    QGroupBox* options = makeGroup(QStringLiteral("Options"), this, &o);
    FeldLaengeCheck = makeCheck(QStringLiteral("FeldLaengeCheck"),
                                QStringLiteral("only when field contains more than:"), options);
    NumCharsEdit = makeEnterEdit(QStringLiteral("NumCharsEdit"), options);
    NumCharsEdit->setMaximumWidth(60);
    auto* DelSourceCheck = makeCheck(QStringLiteral("DelSourceCheck"),
                                     QStringLiteral("delete chars from source field"), options);
    o->addWidget(FeldLaengeCheck, 0, 0);
    o->addWidget(NumCharsEdit, 0, 1);
    o->addWidget(makeLabel(QStringLiteral("character(s)"), options), 0, 2);
    o->addWidget(DelSourceCheck, 1, 0, 1, 3);
    o->setColumnStretch(1, 0);
    o->setColumnStretch(3, 1);
    outer->addWidget(options);
    outer->addStretch(1);

    PickerWiring& p = form.pickers();
    p.aliasBox(AliasMerge, {MergeFeld1, MergeFeld2, MergeFeld3, MergeTargetFeld, MergeTable});
    p.directoryLabel(AliasMerge, AliasDir2, PickerWiring::DirLabelEvent::OnLeaving);
    // The table box of this page empties the target field's list instead of its own, and
    // replaces its own list only when the alias box has a selected entry.
    connect(MergeTable, &TPickerBox::dropDown, this,
            [&p, MergeTable, AliasMerge, MergeFeld1, MergeFeld2, MergeFeld3, MergeTargetFeld] {
                MergeTargetFeld->clearEntries();
                for (QWidget* d : {MergeFeld1, MergeFeld2, MergeFeld3, MergeTargetFeld})
                    PickerWiring::clearText(d);
                if (AliasMerge->hasSelectedEntry())
                    MergeTable->setEntries(p.tableNames(AliasMerge->selectedEntry()));
            });
    for (TPickerBox* box : {MergeFeld1, MergeFeld2, MergeFeld3, MergeTargetFeld})
        p.fieldBox(box, AliasMerge, MergeTable);

    connect(FeldLaengeCheck, &QCheckBox::toggled, this, &TMergePage::FeldLaengeCheckClick);
    connect(DelSourceCheck, &QCheckBox::toggled, this, &TMergePage::FeldLaengeCheckClick);
    FeldLaengeCheckClick();
}

void TMergePage::FeldLaengeCheckClick() {
    NumCharsEdit->setVisible(FeldLaengeCheck->isChecked());
}

} // namespace fieldsmith::app
