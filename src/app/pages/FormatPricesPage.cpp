#include "app/pages/FormatPricesPage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/pages/PageLayout.h"

#include <QVBoxLayout>

namespace fieldsmith::app {

TFormatPricesPage::TFormatPricesPage(TFieldsmithForm& form, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Seite6"));
    auto* outer = new QVBoxLayout(this);

    QGridLayout* t;
    QGroupBox* table = makeGroup(QStringLiteral("Table"), this, &t);
    auto* PreisAlias1 = makePicker(QStringLiteral("PreisAlias1"), table);
    auto* PreisAlias1Dir = makeDirLabel(QStringLiteral("PreisAlias1Dir"), table);
    auto* PreisTable1 = makePicker(QStringLiteral("PreisTable1"), table);
    auto* PreisFeld1 = makePicker(QStringLiteral("PreisFeld1"), table);
    addRow(t, makeLabel(QStringLiteral("Alias: "), table), PreisAlias1);
    addRow(t, nullptr, PreisAlias1Dir);
    addRow(t, makeLabel(QStringLiteral("Table: "), table), PreisTable1);
    addRow(t, makeLabel(QStringLiteral("Price Field: "), table), PreisFeld1);
    outer->addWidget(table);

    auto* careful =
        makeNote(QStringLiteral(
                     "Be careful! - If the selected \"Price Field\" is not a price field you will "
                     "LOSE DATA since all characters that are not numbers (0 - 9) (except for "
                     "\",\") will be removed."),
                 this, QStringLiteral("PriceWarning"));
    careful->setStyleSheet(QStringLiteral("color: maroon; font-weight: bold;"));
    outer->addWidget(careful);
    outer->addWidget(makeNote(QStringLiteral("If the value of a field does not contain a comma "
                                             "(\",\") then \",00\" will be added to the end of the "
                                             "string."),
                              this, QStringLiteral("PriceNote")));
    outer->addStretch(1);

    PickerWiring& p = form.pickers();
    p.aliasBox(PreisAlias1, {PreisTable1, PreisFeld1});
    p.directoryLabel(PreisAlias1, PreisAlias1Dir, PickerWiring::DirLabelEvent::OnChange);
    p.tableBox(PreisTable1, PreisAlias1, {PreisFeld1});
    p.fieldBox(PreisFeld1, PreisAlias1, PreisTable1);
}

} // namespace fieldsmith::app
