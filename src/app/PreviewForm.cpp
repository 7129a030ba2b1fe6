#include "app/PreviewForm.h"

#include "app/TextCodec.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace fieldsmith::app {

namespace {

// Message texts break lines with a lone carriage return.
QString messageText(const std::string& text) {
    QString t = fromEngine(text);
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

} // namespace

TPreviewForm::TPreviewForm(QWidget* parent, const tables::PreviewResult& result) : QDialog(parent) {
    setObjectName(QStringLiteral("PreviewForm"));
    setWindowTitle(QStringLiteral("Preview"));
    auto* layout = new QVBoxLayout(this);

    QString summary = QStringLiteral("Nothing was written.");
    if (!result.messages.empty()) {
        summary += QStringLiteral("\n\nThe run would report:");
        for (const auto& m : result.messages)
            summary += QLatin1Char('\n') + messageText(m);
    }
    summary += QStringLiteral("\n\n");
    for (const auto& line : result.countLines())
        summary += messageText(line) + QLatin1Char('\n');
    std::size_t listed = result.records.size(), total = 0;
    for (const auto& c : result.counts)
        total += static_cast<std::size_t>(c.changed + c.inserted + c.deleted);
    if (total > listed)
        summary += QStringLiteral("The first %1 of %2 changed records are listed below.")
                       .arg(listed)
                       .arg(total);
    SummaryLabel = new QLabel(summary.trimmed(), this);
    SummaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
    SummaryLabel->setWordWrap(true);
    SummaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(SummaryLabel);

    const QStringList headers{QStringLiteral("Table"),     QStringLiteral("Record"),
                              QStringLiteral("Change"),    QStringLiteral("Field"),
                              QStringLiteral("Old value"), QStringLiteral("New value")};
    int rows = 0;
    for (const auto& r : result.records)
        rows += static_cast<int>(r.fields.size());
    ChangesGrid = new QTableWidget(rows, static_cast<int>(headers.size()), this);
    ChangesGrid->setObjectName(QStringLiteral("ChangesGrid"));
    ChangesGrid->setHorizontalHeaderLabels(headers);
    ChangesGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ChangesGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    ChangesGrid->verticalHeader()->hide();
    ChangesGrid->horizontalHeader()->setStretchLastSection(true);
    int row = 0;
    for (const auto& r : result.records) {
        for (const auto& f : r.fields) {
            const QString cells[] = {fromEngine(r.table),
                                     fromEngine(r.record),
                                     QString::fromLatin1(tables::changeWord(r.kind)),
                                     fromEngine(f.field),
                                     messageText(f.before),
                                     messageText(f.after)};
            for (int c = 0; c < static_cast<int>(std::size(cells)); ++c)
                ChangesGrid->setItem(row, c, new QTableWidgetItem(cells[c]));
            ++row;
        }
    }
    ChangesGrid->resizeColumnsToContents();
    layout->addWidget(ChangesGrid, 1);

    auto* buttons = new QDialogButtonBox(this);
    RunBtn = buttons->addButton(QStringLiteral("&Run"), QDialogButtonBox::AcceptRole);
    RunBtn->setObjectName(QStringLiteral("RunBtn"));
    RunBtn->setToolTip(QStringLiteral("Run the page now and make these changes"));
    CloseBtn = buttons->addButton(QStringLiteral("&Close"), QDialogButtonBox::RejectRole);
    CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
    CloseBtn->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(720, 460);
}

} // namespace fieldsmith::app
