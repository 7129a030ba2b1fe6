#include "app/pages/ChangePartPage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/TextCodec.h"
#include "app/pages/PageLayout.h"
#include "engine/FormatSettings.h"
#include "engine/Table.h"
#include "ui/EnterEdit.h"

#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <limits>

namespace fieldsmith::app {

namespace {

const QColor kGrey(128, 128, 128);

bool isWholeNumber(const QString& text) {
    const auto n = engine::parseInteger(text.toStdString());
    return n && *n >= std::numeric_limits<std::int32_t>::min() &&
           *n <= std::numeric_limits<std::int32_t>::max();
}

void setButtonTextColor(QWidget* button, const QColor& color) {
    QPalette p = button->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::ButtonText, color);
    button->setPalette(p);
}

} // namespace

TChangePartPage::TChangePartPage(TFieldsmithForm& form, QWidget* parent)
    : QWidget(parent), form_(form) {
    setObjectName(QStringLiteral("Seite3"));
    auto* outer = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    outer->addLayout(top);

    QGridLayout* t;
    QGroupBox* table = makeGroup(QStringLiteral("Table"), this, &t);
    Change2Alias = makePicker(QStringLiteral("Change2Alias"), table);
    auto* Change2AliasDir = makeDirLabel(QStringLiteral("Change2AliasDir"), table);
    Change2Table = makePicker(QStringLiteral("Change2Table"), table);
    auto* Change2Field = makePicker(QStringLiteral("Change2Field"), table);
    addRow(t, makeLabel(QStringLiteral("DB-Alias: "), table), Change2Alias);
    addRow(t, nullptr, Change2AliasDir);
    addRow(t, makeLabel(QStringLiteral("Table: "), table), Change2Table);
    addRow(t, makeLabel(QStringLiteral("Field: "), table), Change2Field);
    Index3Check =
        makeCheck(QStringLiteral("Index3Check"), QStringLiteral("switch Index to: "), table);
    Index3Box = makePicker(QStringLiteral("Index3Box"), table, true);
    const int indexRow = t->rowCount();
    t->addWidget(Index3Check, indexRow, 0);
    t->addWidget(Index3Box, indexRow, 1);
    vonEdit = makeEnterEdit(QStringLiteral("vonEdit"), table);
    zuEdit = makeEnterEdit(QStringLiteral("zuEdit"), table);
    vonLabel =
        makeLabel(QStringLiteral("change the (Sub-) Strings: "), table, QStringLiteral("vonLabel"));
    zuLabel = makeLabel(QStringLiteral("new (Sub-) String: "), table, QStringLiteral("zuLabel"));
    addRow(t, vonLabel, vonEdit);
    addRow(t, zuLabel, zuEdit);
    t->setRowStretch(t->rowCount(), 1);
    top->addWidget(table, 3);

    auto* modes = new QGroupBox(QStringLiteral("Mode"), this);
    modes->setObjectName(QStringLiteral("ModeGroup"));
    auto* m = new QVBoxLayout(modes);
    m->setSpacing(2);
    auto* group = new QButtonGroup(this);
    auto addMode = [&](const char* name, const char* text) {
        auto* button = makeRadio(QString::fromLatin1(name), QString::fromLatin1(text), modes);
        group->addButton(button);
        m->addWidget(button);
        connect(button, &QRadioButton::clicked, this, &TChangePartPage::updateAnzeige);
        return button;
    };
    StringChange = addMode("StringChange", "change String");
    addMode("LeerFeld", "empty field");
    addMode("RemoveBlanks", "remove blanks /trim (starting + ending)");
    addMode("OEMBtn", "convert OEM to ANSI");
    addMode("UpperCaseBtn", "1. Upper-Case + continue Lower-Case")
        ->setToolTip(QStringLiteral("first Charaters of a Word remain Upper-case!"));
    addMode("allUpperCaseBtn", "all Upper-Case");
    addMode("allLowerCaseBtn", "all Lower-Case");
    AddSiteIDBtn = addMode("AddSiteIDBtn", "add String to Field");
    AddSiteIDBtn->setToolTip(QStringLiteral("adds a string to a field (with condition)"));
    addMode("removeCRLFBtn", "remove starting CR/LF");
    StringChange->setChecked(true);
    m->addStretch(1);
    top->addWidget(modes, 2);

    QGridLayout* o;
    QGroupBox* options = makeGroup(QStringLiteral("Options"), this, &o);
    SizeBox =
        makeCheck(QStringLiteral("SizeBox"), QStringLiteral("only if total length is:"), options);
    SizeEdit = makeEdit(QStringLiteral("SizeEdit"), options);
    SizeEdit->setMaximumWidth(60);
    o->addWidget(SizeBox, 0, 0);
    o->addWidget(SizeEdit, 0, 1, Qt::AlignLeft);
    IfCheckAddString1 =
        makeCheck(QStringLiteral("IfCheckAddString1"), QStringLiteral("only if field"), options);
    IfCheckAddString1->setEnabled(false);
    IfCheckAddContain =
        makeRadio(QStringLiteral("IfCheckAddContain"), QStringLiteral("does contain:"), options);
    IfCheckAddNotContain = makeRadio(QStringLiteral("IfCheckAddNotContain"),
                                     QStringLiteral("does NOT contain:"), options);
    IfCheckAddContain->setChecked(true);
    IfCheckAddString2 = makeEdit(QStringLiteral("IfCheckAddString2"), options);
    IfCheckAddString2->setMaximumWidth(160);
    o->addWidget(IfCheckAddString1, 1, 0);
    o->addWidget(IfCheckAddContain, 1, 1);
    o->addWidget(IfCheckAddNotContain, 1, 2);
    o->addWidget(IfCheckAddString2, 1, 3);
    CRLFStellenEdit = makeEdit(QStringLiteral("CRLFStellenEdit"), options);
    CRLFStellenEdit->setMaximumWidth(60);
    o->addWidget(
        makeLabel(QStringLiteral("Positionen"), options, QStringLiteral("CRLFStellenLabel")), 2, 0);
    o->addWidget(CRLFStellenEdit, 2, 1, Qt::AlignLeft);
    o->setColumnStretch(1, 0);
    o->setColumnStretch(4, 1);
    outer->addWidget(options);
    outer->addStretch(1);

    PickerWiring& p = form.pickers();
    p.aliasBox(Change2Alias, {Change2Table, Change2Field});
    p.directoryLabel(Change2Alias, Change2AliasDir, PickerWiring::DirLabelEvent::OnChange);
    p.tableBox(Change2Table, Change2Alias, {});
    p.fieldBox(Change2Field, Change2Alias, Change2Table);
    connect(Index3Box, &TPickerBox::dropDown, this, &TChangePartPage::Index3BoxDropDown);

    connect(SizeBox, &QCheckBox::toggled, this, &TChangePartPage::updateSizeAnsicht);
    connect(IfCheckAddString1, &QCheckBox::toggled, this,
            &TChangePartPage::updateIfCheckAddAnsicht);
    connect(Index3Check, &QCheckBox::toggled, this, &TChangePartPage::updateIfCheckAddAnsicht);
    connect(IfCheckAddContain, &QRadioButton::clicked, this, &TChangePartPage::updateAnzeige);
    connect(IfCheckAddNotContain, &QRadioButton::clicked, this, &TChangePartPage::updateAnzeige);
    for (QWidget* w : {static_cast<QWidget*>(SizeEdit), static_cast<QWidget*>(IfCheckAddString2),
                       static_cast<QWidget*>(CRLFStellenEdit)})
        w->installEventFilter(this);
    updateSizeAnsicht();
    updateIfCheckAddAnsicht();
}

bool TChangePartPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) SizeEditExit();
    return QWidget::eventFilter(watched, event);
}

void TChangePartPage::updateAnzeige() {
    const bool change = StringChange->isChecked();
    const bool add = AddSiteIDBtn->isChecked();
    const bool indexAllowed =
        !Change2Alias->boxText().isEmpty() && !Change2Table->boxText().isEmpty();
    const QColor black(Qt::black);
    auto conditionInputs = {
        static_cast<QWidget*>(IfCheckAddString1), static_cast<QWidget*>(IfCheckAddContain),
        static_cast<QWidget*>(IfCheckAddNotContain), static_cast<QWidget*>(IfCheckAddString2)};
    if (change || add) {
        setLabelColor(zuLabel, black);
        zuLabel->setText(add ? QStringLiteral("Field starts with: ")
                             : QStringLiteral("new (Sub-) String: "));
        setLabelColor(vonLabel, add ? kGrey : black);
        vonEdit->setEnabled(change);
        zuEdit->setEnabled(true);
        SizeBox->setEnabled(true);
        SizeEdit->setEnabled(true);
        Index3Check->setEnabled(indexAllowed);
        Index3Box->setEnabled(indexAllowed);
        for (QWidget* w : conditionInputs) {
            w->setEnabled(add);
            setButtonTextColor(w, add ? black : kGrey);
        }
        return;
    }
    setLabelColor(vonLabel, kGrey);
    setLabelColor(zuLabel, kGrey);
    for (QWidget* w : {static_cast<QWidget*>(vonEdit), static_cast<QWidget*>(zuEdit),
                       static_cast<QWidget*>(SizeBox), static_cast<QWidget*>(SizeEdit),
                       static_cast<QWidget*>(Index3Check), static_cast<QWidget*>(Index3Box)})
        w->setEnabled(false);
    for (QWidget* w : conditionInputs) {
        w->setEnabled(false);
        setButtonTextColor(w, kGrey);
    }
}

void TChangePartPage::updateSizeAnsicht() {
    SizeEdit->setVisible(SizeBox->isChecked());
}

void TChangePartPage::updateIfCheckAddAnsicht() {
    const bool show = IfCheckAddString1->isChecked();
    IfCheckAddContain->setVisible(show);
    IfCheckAddNotContain->setVisible(show);
    IfCheckAddString2->setVisible(show);
}

void TChangePartPage::SizeEditExit() {
    // The error box takes the focus away again; one check at a time.
    if (inSizeEditExit_ || isWholeNumber(SizeEdit->text())) return;
    inSizeEditExit_ = true;
    form_.message(run::MessageKind::Error, QStringLiteral("Value must be a number!"));
    SizeEdit->setFocus();
    inSizeEditExit_ = false;
}

void TChangePartPage::Index3BoxDropDown() {
    if (Change2Alias->boxText().isEmpty() || Change2Table->boxText().isEmpty()) return;
    form_.guarded([this] {
        engine::Table& temp = form_.shared().TempTable;
        temp.close();
        temp.setDatabaseName(toFileName(Change2Alias->boxText()));
        temp.setTableName(toFileName(Change2Table->boxText()));
        temp.setIndexFieldNames({});
        temp.open();
        form_.pickers().GetIndexes(temp, Index3Box);
        temp.close();
    });
}

} // namespace fieldsmith::app
