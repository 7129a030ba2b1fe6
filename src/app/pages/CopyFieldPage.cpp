#include "app/pages/CopyFieldPage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/pages/PageLayout.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace fieldsmith::app {

TCopyFieldPage::TCopyFieldPage(TFieldsmithForm& form, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Seite1"));
    auto* outer = new QVBoxLayout(this);
    auto* tables = new QHBoxLayout;
    outer->addLayout(tables);

    QGridLayout* src;
    QGroupBox* source = makeGroup(QStringLiteral("Source Table"), this, &src);
    auto* AliasBoxS1 = makePicker(QStringLiteral("AliasBoxS1"), source);
    auto* AliasDir4 = makeDirLabel(QStringLiteral("AliasDir4"), source);
    auto* TableBoxS1 = makePicker(QStringLiteral("TableBoxS1"), source);
    GenNewRecsCheck = makeCheck(QStringLiteral("GenNewRecsCheck"),
                                QStringLiteral("generate new records"), source);
    IndexFeld1Box = makePicker(QStringLiteral("IndexFeld1Box"), source);
    Feld2Box = makePicker(QStringLiteral("Feld2Box"), source);
    IndexFeld1Label =
        makeLabel(QStringLiteral("Key field: "), source, QStringLiteral("IndexFeld1Label"));
    Feld2Label = makeLabel(QStringLiteral("Source Field: "), source, QStringLiteral("Feld2Label"));
    addRow(src, makeLabel(QStringLiteral("Alias: "), source), AliasBoxS1);
    addRow(src, nullptr, AliasDir4);
    addRow(src, makeLabel(QStringLiteral("Table: "), source), TableBoxS1);
    addRow(src, nullptr, GenNewRecsCheck);
    addRow(src, IndexFeld1Label, IndexFeld1Box);
    addRow(src, Feld2Label, Feld2Box);
    src->setRowStretch(src->rowCount(), 1);
    tables->addWidget(source);

    QGridLayout* tgt;
    QGroupBox* target = makeGroup(QStringLiteral("Target Table"), this, &tgt);
    auto* AliasBox2 = makePicker(QStringLiteral("AliasBox2"), target);
    auto* AliasDir5 = makeDirLabel(QStringLiteral("AliasDir5"), target);
    auto* TabellenBox2 = makePicker(QStringLiteral("TabellenBox2"), target);
    IndexFeld2Box = makePicker(QStringLiteral("IndexFeld2Box"), target);
    auto* ZielFeldBox = makePicker(QStringLiteral("ZielFeldBox"), target);
    LeereTarget =
        makeCheck(QStringLiteral("LeereTarget"), QStringLiteral("empty target field"), target);
    IndexFeld2Label =
        makeLabel(QStringLiteral("Key field: "), target, QStringLiteral("IndexFeld2Label"));
    addRow(tgt, makeLabel(QStringLiteral("Alias: "), target), AliasBox2);
    addRow(tgt, nullptr, AliasDir5);
    addRow(tgt, makeLabel(QStringLiteral("Table: "), target), TabellenBox2);
    addRow(tgt, IndexFeld2Label, IndexFeld2Box);
    addRow(tgt, makeLabel(QStringLiteral("Target Field: "), target), ZielFeldBox);
    addRow(tgt, nullptr, LeereTarget);
    tgt->setRowStretch(tgt->rowCount(), 1);
    tables->addWidget(target);

    outer->addWidget(makeNote(
        QStringLiteral("The \"Key Field\" represents a unique (!) identifier that may have "
                       "different field names in the source and the target table - but must "
                       "match to qualify a \"Target Field\" to be updated / changed with the "
                       "value in the corresponding \"Source Field\"."),
        this, QStringLiteral("MoveExplanation")));
    outer->addStretch(1);

    PickerWiring& p = form.pickers();
    p.aliasBox(AliasBoxS1, {IndexFeld1Box, Feld2Box, TableBoxS1});
    p.directoryLabel(AliasBoxS1, AliasDir4, PickerWiring::DirLabelEvent::OnLeaving);
    p.tableBox(TableBoxS1, AliasBoxS1, {IndexFeld1Box, Feld2Box});
    p.fieldBox(IndexFeld1Box, AliasBoxS1, TableBoxS1);
    p.fieldBox(Feld2Box, AliasBoxS1, TableBoxS1, [this] {
        return !IndexFeld1Box->boxText().isEmpty() || GenNewRecsCheck->isChecked();
    });
    p.aliasBox(AliasBox2, {IndexFeld2Box, ZielFeldBox, TabellenBox2});
    p.directoryLabel(AliasBox2, AliasDir5, PickerWiring::DirLabelEvent::OnLeaving);
    p.tableBox(TabellenBox2, AliasBox2, {IndexFeld2Box, ZielFeldBox});
    p.fieldBox(IndexFeld2Box, AliasBox2, TabellenBox2);
    p.fieldBox(ZielFeldBox, AliasBox2, TabellenBox2, [this] {
        return (!IndexFeld1Box->boxText().isEmpty() && !Feld2Box->boxText().isEmpty()) ||
               GenNewRecsCheck->isChecked();
    });

    connect(LeereTarget, &QCheckBox::toggled, this, &TCopyFieldPage::updateEmptyTargetAnsicht);
    connect(GenNewRecsCheck, &QCheckBox::toggled, this, &TCopyFieldPage::updateGenNewRecsAnsicht);
}

void TCopyFieldPage::updateEmptyTargetAnsicht() {
    const bool show = !LeereTarget->isChecked();
    Feld2Label->setVisible(show);
    Feld2Box->setVisible(show);
}

void TCopyFieldPage::updateGenNewRecsAnsicht() {
    const bool show = !GenNewRecsCheck->isChecked();
    IndexFeld1Label->setVisible(show);
    IndexFeld1Box->setVisible(show);
    IndexFeld2Label->setVisible(show);
    IndexFeld2Box->setVisible(show);
}

} // namespace fieldsmith::app
