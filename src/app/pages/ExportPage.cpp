#include "app/pages/ExportPage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/TextCodec.h"
#include "app/pages/PageLayout.h"
#include "app/run/PageRules.h"
#include "ui/DateiWahl.h"
#include "ui/EnterEdit.h"

#include <QButtonGroup>
#include <QDir>
#include <QEvent>
#include <QHBoxLayout>
#include <QStyle>
#include <QTime>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace fieldsmith::app {

namespace {

// A label and an input side by side, hidden and shown together.
QWidget* panel(const QString& objectName, QLabel* label, QWidget* input, QWidget* parent,
               QWidget* extra = nullptr) {
    auto* w = new QWidget(parent);
    w->setObjectName(objectName);
    auto* l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    label->setParent(w);
    input->setParent(w);
    label->setMinimumWidth(120);
    l->addWidget(label);
    l->addWidget(input, 1);
    if (extra) {
        extra->setParent(w);
        l->addWidget(extra);
    }
    return w;
}

} // namespace

TExportPage::TExportPage(TFieldsmithForm& form, QWidget* parent) : QWidget(parent), form_(form) {
    setObjectName(QStringLiteral("ExportSeite"));
    auto* outer = new QVBoxLayout(this);

    auto* modes = new QGroupBox(QStringLiteral("Mode"), this);
    auto* m = new QGridLayout(modes);
    ExportSelect = makeRadio(QStringLiteral("ExportSelect"), QStringLiteral("E&xport"), modes);
    auto* ImportSelect =
        makeRadio(QStringLiteral("ImportSelect"), QStringLiteral("I&mport"), modes);
    auto* group = new QButtonGroup(this);
    group->addButton(ExportSelect);
    group->addButton(ImportSelect);
    ExportSelect->setChecked(true);
    ExportDescription = makeNote(QStringLiteral("This function generates \"INSERT\" statements "
                                                "with records read from an ORACLE table."),
                                 modes, QStringLiteral("ExportDescription"));
    ImportDescription = makeNote(QStringLiteral("This function reads \"INSERT\" statements from "
                                                "a file into an ORACLE table."),
                                 modes, QStringLiteral("ImportDescription"));
    m->addWidget(ExportSelect, 0, 0);
    m->addWidget(ExportDescription, 0, 1);
    m->addWidget(ImportSelect, 1, 0);
    m->addWidget(ImportDescription, 1, 1);
    m->setColumnStretch(1, 1);
    outer->addWidget(modes);

    auto* tableGroup = new QGroupBox(this);
    auto* t = new QVBoxLayout(tableGroup);
    auto* heading = new QHBoxLayout;
    TablePropsLabel = makeLabel(QStringLiteral("Source Table properties:"), tableGroup,
                                QStringLiteral("TablePropsLabel"));
    TablePropsLabel->setStyleSheet(QStringLiteral("font-weight: bold;"));
    auto* mustBe = makeLabel(QStringLiteral("(must be ORACLE !)"), tableGroup,
                             QStringLiteral("MustBeOracleLabel"));
    mustBe->setStyleSheet(QStringLiteral("color: red;"));
    heading->addWidget(TablePropsLabel);
    heading->addWidget(mustBe);
    heading->addStretch(1);
    t->addLayout(heading);

    auto* ExportAlias = makePicker(QStringLiteral("ExportAlias"), tableGroup);
    ExportTab = makePicker(QStringLiteral("ExportTab"), tableGroup);
    t->addWidget(panel(QStringLiteral("AliasPanel"),
                       makeLabel(QStringLiteral("DB-Alias: "), nullptr), ExportAlias, tableGroup));
    t->addWidget(panel(QStringLiteral("TablePanel"), makeLabel(QStringLiteral("Table: "), nullptr),
                       ExportTab, tableGroup));
    t->addWidget(panel(QStringLiteral("OwnerPanel"),
                       makeLabel(QStringLiteral("Table Owner: "), nullptr),
                       makeEnterEdit(QStringLiteral("ExportTabOwnerEdit"), nullptr), tableGroup));
    NumberPanel = panel(QStringLiteral("NumberPanel"),
                        makeLabel(QStringLiteral("Number of records: "), nullptr),
                        makeEnterEdit(QStringLiteral("ExportMaxRecEdit"), nullptr), tableGroup,
                        makeLabel(QStringLiteral("Number of records to be exported from table"),
                                  nullptr, QStringLiteral("NumberNote")));
    t->addWidget(NumberPanel);
    StartPanel = panel(QStringLiteral("StartPanel"),
                       makeLabel(QStringLiteral("Start with record: "), nullptr),
                       makeEnterEdit(QStringLiteral("ExportStartRecEdit"), nullptr), tableGroup);
    t->addWidget(StartPanel);

    ExportFileEdit = makeEnterEdit(QStringLiteral("ExportFileEdit"), nullptr);
    ExportFileEdit->setToolTip(QStringLiteral("Show file with doubleclick"));
    ImportFileToolbar = new QToolBar(nullptr);
    ImportFileToolbar->setObjectName(QStringLiteral("ImportFileToolbar"));
    auto* ToolButton18 = new QToolButton(ImportFileToolbar);
    ToolButton18->setObjectName(QStringLiteral("ToolButton18"));
    ToolButton18->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    ImportFileToolbar->addWidget(ToolButton18);
    FilePanelLabel =
        makeLabel(QStringLiteral("Export to File: "), nullptr, QStringLiteral("FilePanelLabel"));
    t->addWidget(panel(QStringLiteral("FilePanel"), FilePanelLabel, ExportFileEdit, tableGroup,
                       ImportFileToolbar));
    LogFileEdit = makeEnterEdit(QStringLiteral("LogFileEdit"), nullptr);
    LogFileEdit->setToolTip(QStringLiteral("Show file with doubleclick"));
    LogPanel = panel(QStringLiteral("LogPanel"), makeLabel(QStringLiteral("Log-File: "), nullptr),
                     LogFileEdit, tableGroup);
    t->addWidget(LogPanel);
    outer->addWidget(tableGroup);
    outer->addStretch(1);

    PickerWiring& p = form.pickers();
    p.aliasBox(ExportAlias, {ExportTab});
    p.tableBox(ExportTab, ExportAlias, {});
    // Opening the table list logs on to the Oracle target first; the list comes all the same.
    connect(ExportTab, &TPickerBox::dropDown, this, [&form] { form.ensureOracleLogon("ExportSeite"); });

    // Only the user's changes: the file box sets this box in turn, and must not restart it.
    connect(ExportTab, &TPickerBox::textChangedByUser, this, &TExportPage::ExportTabChange);
    connect(ExportFileEdit, &QLineEdit::textChanged, this, &TExportPage::ExportFileEditChange);
    connect(ExportSelect, &QRadioButton::toggled, this, &TExportPage::SetExportImportMode);
    connect(ToolButton18, &QToolButton::clicked, this, &TExportPage::ToolButton18Click);
    ExportFileEdit->installEventFilter(this);
    LogFileEdit->installEventFilter(this);
    openWith = viewer::windowOpenWithHost(
        &form,
        [&form](run::MessageKind kind, const QString& text) { return form.message(kind, text); },
        fromFileName(form.session().configDir().string()));
    SetExportImportMode();
}

bool TExportPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == ExportFileEdit) {
            form_.guarded([this] { ExportFileEditDblClick(); });
            return true;
        }
        if (watched == LogFileEdit) {
            form_.guarded([this] { LogFileEditDblClick(); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TExportPage::ExportFileEditDblClick() {
    if (!ExportFileEdit->text().isEmpty())
        viewer::OpenWithApplication(ExportFileEdit->text(), openWith);
}

void TExportPage::LogFileEditDblClick() {
    if (!LogFileEdit->text().isEmpty()) viewer::OpenWithApplication(LogFileEdit->text(), openWith);
}

void TExportPage::ExportTabChange() {
    const QString table = ExportTab->boxText();
    if (table.isEmpty()) return;
    const QTime now = QTime::currentTime();
    QString temp = QDir::tempPath();
    if (!temp.endsWith(QLatin1Char('/'))) temp += QLatin1Char('/');
    const QString file = fromFileName(run::exportFileName(toFileName(temp), toFileName(table),
                                                          now.hour(), now.minute(), now.second()));
    if (ExportFileEdit->text() != file) ExportFileEdit->setText(file);
}

void TExportPage::ExportFileEditChange() {
    const QString file = ExportFileEdit->text();
    if (LogPanel->isVisibleTo(this)) LogFileEdit->setText(file + QStringLiteral("_import.log"));
    if (file.isEmpty()) return;
    const QString table = fromFileName(run::TableNameFromFile(toFileName(file)));
    // Setting the same text again would restart the chain through ExportTabChange.
    if (ExportTab->boxText() != table) ExportTab->setBoxText(table);
}

void TExportPage::SetExportImportMode() {
    const bool exporting = ExportSelect->isChecked();
    TablePropsLabel->setText(exporting ? QStringLiteral("Source Table properties:")
                                       : QStringLiteral("Target Table properties:"));
    ExportDescription->setEnabled(exporting);
    ImportDescription->setEnabled(!exporting);
    NumberPanel->setVisible(exporting);
    StartPanel->setVisible(exporting);
    LogPanel->setVisible(!exporting);
    FilePanelLabel->setText(exporting ? QStringLiteral("Export to File: ")
                                      : QStringLiteral("Read from File: "));
    ImportFileToolbar->setVisible(!exporting);
}

void TExportPage::ToolButton18Click() {
    ui::TDateiWahl picker(this);
    picker.setFileMask(QStringLiteral("*.sql"));
    picker.exec();
    if (!picker.fileEditText().contains(QLatin1Char('*')))
        ExportFileEdit->setText(picker.resultPath());
}

} // namespace fieldsmith::app
