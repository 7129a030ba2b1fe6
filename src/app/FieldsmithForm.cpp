#include "app/FieldsmithForm.h"

#include "app/AliasForm.h"
#include "app/HelpWindow.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/TabStrip.h"
#include "app/TextCodec.h"
#include "app/WindowRunHost.h"
#include "app/pages/AddPrimaryPage.h"
#include "app/pages/ChangeFieldPage.h"
#include "app/pages/ChangePartPage.h"
#include "app/pages/CopyFieldPage.h"
#include "app/pages/CreateTablePage.h"
#include "app/pages/CsvPage.h"
#include "app/pages/DeletePage.h"
#include "app/pages/ExportPage.h"
#include "app/pages/FormatPricesPage.h"
#include "app/pages/MergePage.h"
#include "app/pages/NewValueIfPage.h"
#include "app/run/OracleLogon.h"
#include "app/run/Texts.h"
#include "engine/Session.h"
#include "tables/Preview.h"
#include "tables/RunBackup.h"
#include "ui/ZipMsgForm.h"
#include "viewer/TableViewPage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace fieldsmith::app {

namespace {

QString qstr(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<int>(s.size()));
}

struct PageRow {
    const char* component;
    const char* caption;
    const char* info;
    const char* helpFile;
    QStyle::StandardPixmap icon;
};

// The pages in tab order, with what selecting their tab shows.
constexpr PageRow kPages[] = {
    {"Seite1", "Copy Field",
     "Copy Field values - if not empty the target fields will be overwritten!", "MOVEFLD.HLP",
     QStyle::SP_ArrowRight},
    {"Seite2", "Change Field",
     "Search and Replace Strings in a Table - COMPLETE field value must match!", "Fldrplce.HLP",
     QStyle::SP_BrowserReload},
    {"Seite3", "Change Field part./convert", "Search and Replace of (Sub-) Strings in a Table",
     "CHNGEFLD.HLP", QStyle::SP_FileDialogContentsView},
    {"Seite4", "Merge Fields", "Merge Fields - with optional delimeters", "Mrgflds7.HLP",
     QStyle::SP_FileDialogListView},
    {"Seite5", "Add Primary",
     "generate new Primary Key values - use this function ONLY for a NEW table!", "ADDPRIM.HLP",
     QStyle::SP_FileDialogNewFolder},
    {"Seite6", "Format Prices",
     "Format a Price-String field to become values with exactly two decimals (...####.##)!",
     "FORMPRIC.HLP", QStyle::SP_FileDialogInfoView},
    {"DelPage", "Delete records", "Delete (a number of) records from a Table!", "FIELDSMITH.CHM",
     QStyle::SP_TrashIcon},
    {"Seite7", "new Value IF",
     "Write value to a field if (another) field contains a certain (sub-) string!",
     "FIELDSMITH.CHM", QStyle::SP_DialogApplyButton},
    {"CSVMakeTable", "CSV-Files", "Create a new Paradox-Table from an CSV File!", "FIELDSMITH.CHM",
     QStyle::SP_FileIcon},
    {"AnsichtTabelle", "Table View", "View a Table!", "FIELDSMITH.CHM",
     QStyle::SP_FileDialogDetailedView},
    {"CreateTableSeite", "Create Table", "Create a new Table from an existing Table!",
     "FIELDSMITH.CHM", QStyle::SP_DirIcon},
    {"ExportSeite", "ORACLE Import/Export",
     "Export records as Insert statement from an ORACLE Table!", "FIELDSMITH.CHM",
     QStyle::SP_DriveNetIcon},
};

const PageRow* pageRow(const QString& component) {
    for (const PageRow& row : kPages)
        if (component == QLatin1String(row.component)) return &row;
    return nullptr;
}

QWidget* spacer(QWidget* parent) {
    auto* w = new QWidget(parent);
    w->setFixedWidth(8);
    return w;
}

} // namespace

// Keeps a page's input struct current from its widgets, and remembers how to show a
// member's new value in its widget.
template <class Inputs> void TFieldsmithForm::bindInputs(QWidget* page, Inputs& inputs) {
    struct Binder {
        TFieldsmithForm* form;
        QWidget* page;
        // Values convert to and from the program's code page, names of aliases, tables and
        // files to and from the file system's spelling.
        void bind(const char* name, std::string& member, std::string (*in)(const QString&),
                  QString (*out)(const std::string&)) {
            QWidget* w = page->findChild<QWidget*>(QString::fromLatin1(name));
            if (auto* box = qobject_cast<TPickerBox*>(w)) {
                box->setBoxText(out(member));
                member = in(box->boxText());
                connect(box, &QComboBox::currentTextChanged, form,
                        [&member, in](const QString& t) { member = in(t); });
                form->writeBacks_[QString::fromLatin1(name)] = [box, &member, out] {
                    box->setBoxText(out(member));
                };
            } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
                edit->setText(out(member));
                connect(edit, &QLineEdit::textChanged, form,
                        [&member, in](const QString& t) { member = in(t); });
                form->writeBacks_[QString::fromLatin1(name)] = [edit, &member, out] {
                    const QString t = out(member);
                    if (edit->text() != t) edit->setText(t);
                };
            } else {
                qWarning("page %s has no text input %s", qPrintable(page->objectName()), name);
            }
        }
        void text(const char* name, std::string& member) {
            bind(name, member, toEngine, fromEngine);
        }
        void name(const char* name, std::string& member) {
            bind(name, member, toFileName, fromFileName);
        }
        void check(const char* name, bool& member) {
            auto* b = page->findChild<QAbstractButton*>(QString::fromLatin1(name));
            if (!b) {
                qWarning("page %s has no button %s", qPrintable(page->objectName()), name);
                return;
            }
            if (member)
                b->setChecked(true);
            else if (!qobject_cast<QRadioButton*>(b))
                b->setChecked(false);
            member = b->isChecked();
            connect(b, &QAbstractButton::toggled, form, [&member](bool on) { member = on; });
            form->writeBacks_[QString::fromLatin1(name)] = [b, &member] {
                if (member || !qobject_cast<QRadioButton*>(b)) b->setChecked(member);
            };
        }
        void radio(const char* name, const char*, bool& member) { check(name, member); }
    };
    inputs.visit(Binder{this, page});
}

TFieldsmithForm::TFieldsmithForm(engine::Session& session, const QStringList& arguments,
                                 QWidget* parent)
    : QMainWindow(parent), session_(session), shared_(std::make_unique<run::SharedState>(session)),
      operations_(run::builtInOperations()), dialogs_(std::make_unique<MessageBoxDialogs>()) {
    setObjectName(QStringLiteral("FieldsmithForm"));
    setWindowTitle(qstr(run::kWindowCaption));
    setProgramCodePage(session.ansiCodePage());
    host_ = std::make_unique<WindowRunHost>(*this);
    // The logon dialog's automatic first logon looks for a "UserId=" argument.
    std::vector<std::string> words;
    for (const QString& a : arguments)
        words.push_back(toEngine(a));
    shared_->OraLogon.setProgramArguments(std::move(words));
    pickers_ = std::make_unique<PickerWiring>(*this);
    // A server's password is asked for once per run of the program, never stored.
    session.setPasswordPrompt([this](const std::string& alias, const std::string& user) {
        const auto text = dialogs_->password(this, qstr(run::kApplicationTitle),
                                             QStringLiteral("Password of user %1 for database %2:")
                                                 .arg(fromFileName(user), fromFileName(alias)));
        return text ? std::optional<std::string>(text->toStdString()) : std::nullopt;
    });

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(4);

    auto* StatusPanel = new QFrame(central);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    StatusPanel->setFrameShape(QFrame::StyledPanel);
    auto* band = new QVBoxLayout(StatusPanel);
    band->setContentsMargins(6, 4, 6, 4);
    InfoLabel = new QLabel(qstr(run::kSelectDatabaseFunction), StatusPanel);
    InfoLabel->setObjectName(QStringLiteral("InfoLabel"));
    InfoLabel->setAlignment(Qt::AlignCenter);
    InfoLabel->setWordWrap(true);
    InfoLabel->setMinimumHeight(2 * InfoLabel->fontMetrics().lineSpacing() + 4);
    InfoLabel->setStyleSheet(QStringLiteral("color: navy; font-weight: bold;"));
    band->addWidget(InfoLabel);
    layout->addWidget(StatusPanel);

    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->tabBar()->hide();
    layout->addWidget(PageControl1, 1);
    setCentralWidget(central);

    buildToolBar();
    buildPages();
    // The tabs wrap into rows above the pages.
    tabStrip_ = new TabStrip(PageControl1, central);
    layout->insertWidget(1, tabStrip_);
    buildMenu();
    buildStatusBar();
    helpWindow_ = new THelpWindow(this);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &TFieldsmithForm::HelpBtn1Click);

    resize(760, 537);
    FormCreate(arguments);
}

TFieldsmithForm::~TFieldsmithForm() {
    // The viewer's change handler points into this window.
    shared_->TempTable.setDataChangeHandler({});
    try {
        shared_->TempTable.close();
        shared_->PrimTable.close();
    } catch (const std::exception&) {
    }
}

void TFieldsmithForm::buildToolBar() {
    auto* ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(22, 22));
    addToolBar(Qt::TopToolBarArea, ToolBar1);
    auto button = [&](const char* name, QStyle::StandardPixmap icon) {
        auto* b = new QToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(name));
        b->setIcon(style()->standardIcon(icon));
        b->setAutoRaise(true);
        ToolBar1->addWidget(b);
        return b;
    };
    ToolButton1 = button("ToolButton1", QStyle::SP_ComputerIcon);
    ToolButton1->setEnabled(false);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(spacer(ToolBar1));
    RunBtn = button("RunBtn", QStyle::SP_MediaPlay);
    RunBtn->setToolTip(QStringLiteral("Run"));
    PreviewBtn = button("PreviewBtn", QStyle::SP_FileDialogContentsView);
    PreviewBtn->setToolTip(QStringLiteral("Preview: what Run would change, without writing anything"));
    ToolBar1->addSeparator();
    CancelBtn = button("CancelBtn", QStyle::SP_MediaStop);
    CancelBtn->setEnabled(false);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(spacer(ToolBar1));
    HelpBtn1 = button("HelpBtn1", QStyle::SP_MessageBoxQuestion);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(spacer(ToolBar1));
    CloseBtn = button("CloseBtn", QStyle::SP_DialogCloseButton);

    connect(RunBtn, &QToolButton::clicked, this, &TFieldsmithForm::RunBtnClick);
    connect(PreviewBtn, &QToolButton::clicked, this, &TFieldsmithForm::PreviewBtnClick);
    connect(CancelBtn, &QToolButton::clicked, this, &TFieldsmithForm::CancelBtnClick);
    connect(HelpBtn1, &QToolButton::clicked, this, &TFieldsmithForm::HelpBtn1Click);
    connect(CloseBtn, &QToolButton::clicked, this, &TFieldsmithForm::Beenden1Click);
}

void TFieldsmithForm::buildPages() {
    QWidget* pages[] = {
        new TCopyFieldPage(*this),
        new TChangeFieldPage(*this),
        changePartPage_ = new TChangePartPage(*this),
        new TMergePage(*this),
        new TAddPrimaryPage(*this),
        new TFormatPricesPage(*this),
        new TDeletePage(*this),
        new TNewValueIfPage(*this),
        csvPage_ = new TCsvPage(*this),
        tableViewPage_ = new viewer::TTableViewPage(*this),
        new TCreateTablePage(*this),
        new TExportPage(*this),
    };
    for (QWidget* page : pages) {
        const PageRow* row = pageRow(page->objectName());
        PageControl1->addTab(page, style()->standardIcon(row->icon),
                             QString::fromLatin1(row->caption));
        // The hourglass of a run shows over the pages' empty areas only.
        for (QWidget* w : page->findChildren<QWidget*>()) {
            const bool container = qobject_cast<QGroupBox*>(w) ||
                                   w->metaObject() == &QWidget::staticMetaObject ||
                                   w->metaObject() == &QFrame::staticMetaObject;
            if (!container && !w->testAttribute(Qt::WA_SetCursor)) w->setCursor(Qt::ArrowCursor);
        }
    }
    inputs_.forEachPage([this](const char* name, auto& inputs) {
        bindInputs(page(QString::fromLatin1(name)), inputs);
    });

    showPage(QStringLiteral("Seite5"));
    PageControl1->installEventFilter(this);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (!pageChangeFromCode_) PageControl1Change();
    });
}

void TFieldsmithForm::buildMenu() {
    auto* MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    auto* Datei1 = MainMenu1->addMenu(QStringLiteral("&File"));
    Datei1->setObjectName(QStringLiteral("Datei1"));
    Aliases1 = Datei1->addAction(QStringLiteral("&Aliases…"));
    Aliases1->setObjectName(QStringLiteral("Aliases1"));
    connect(Aliases1, &QAction::triggered, this, &TFieldsmithForm::Aliases1Click);
    UndoRun1 = Datei1->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("&Undo last run"));
    UndoRun1->setObjectName(QStringLiteral("UndoRun1"));
    connect(UndoRun1, &QAction::triggered, this, &TFieldsmithForm::UndoRun1Click);
    Datei1->addSeparator();
    Beenden1 = Datei1->addAction(style()->standardIcon(QStyle::SP_DialogCloseButton),
                                 QStringLiteral("&Close"));
    Beenden1->setObjectName(QStringLiteral("Beenden1"));
    Beenden1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    connect(Beenden1, &QAction::triggered, this, &TFieldsmithForm::Beenden1Click);

    auto* Operationen1 = MainMenu1->addMenu(QStringLiteral("&Operations"));
    Operationen1->setObjectName(QStringLiteral("Operationen1"));
    auto item = [&](const char* name, const char* caption, const char* pageName,
                    std::function<void()> after = {}) {
        const PageRow* row = pageRow(QString::fromLatin1(pageName));
        QAction* a =
            Operationen1->addAction(style()->standardIcon(row->icon), QString::fromLatin1(caption));
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, [this, pageName, after] {
            showPage(QString::fromLatin1(pageName));
            if (after) after();
        });
    };
    auto selectMode = [this](const char* mode) {
        return [this, mode] {
            if (auto* b = findChild<QRadioButton*>(QString::fromLatin1(mode))) b->setChecked(true);
            changePartPage_->updateAnzeige();
        };
    };
    item("MoveField1", "&Move Field values", "Seite1");
    item("ChangeField1", "&Change Field values", "Seite2");
    item("ChangeFieldpartially1", "C&hange Field values partially", "Seite3",
         selectMode("StringChange"));
    item("MergeFieldstogether1", "M&erge Fields together", "Seite4");
    item("GeneratePrimaryvalues1", "&Generate Primary values", "Seite5");
    item("FormatPrices1", "&Format Prices", "Seite6");
    item("EmptyField1", "Emp&ty Field", "Seite3", selectMode("LeerFeld"));
    item("CSVFiletoTable1", "CS&V Files", "CSVMakeTable");
    item("CreateTable1", "Create &Table", "CreateTableSeite");
}

void TFieldsmithForm::buildStatusBar() {
    auto* StatusBar1 = statusBar();
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    const int widths[4] = {66, 290, 360, 30};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(StatusBar1);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        panel->setFixedWidth(widths[i]);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        StatusBar1->addWidget(panel);
        panels_[i] = panel;
    }
}

void TFieldsmithForm::setDialogService(std::unique_ptr<DialogService> dialogs) {
    dialogs_ = std::move(dialogs);
}

void TFieldsmithForm::FormCreate(const QStringList& arguments) {
    host_->CancelRequested = 0;
    helpFile_ = QStringLiteral("MOVEFLD.HLP");
    // Only the exact word, and only as the first argument, shows the two hidden parts.
    const bool keystoneViews =
        !arguments.isEmpty() && arguments.first() == QLatin1String("KEYSTONEVIEWS");
    PageControl1->setTabVisible(PageControl1->indexOf(page(QStringLiteral("AnsichtTabelle"))),
                                keystoneViews);
    tabStrip_->syncTabs();
    if (auto* panel = findChild<QWidget*>(QStringLiteral("CSVOptionsPanel")))
        panel->setVisible(keystoneViews);
}

void TFieldsmithForm::PageControl1Change() {
    QWidget* current = PageControl1->currentWidget();
    if (!current) return;
    if (const PageRow* row = pageRow(current->objectName())) {
        InfoLabel->setText(QString::fromLatin1(row->info));
        helpFile_ = QString::fromLatin1(row->helpFile);
    }
}

// The operation of a page by its name; an operation this program lacks is reported.
const run::Operation* TFieldsmithForm::operationNamed(const std::string& name) {
    const run::Operation* operation = operations_.find(name);
    if (!operation)
        message(run::MessageKind::Error,
                QStringLiteral("The operation of this page (%1) is not available in this program.")
                    .arg(QString::fromStdString(name)));
    return operation;
}

void TFieldsmithForm::RunBtnClick() {
    if (running_ || !PageControl1->currentWidget()) return;
    const std::string pageName = PageControl1->currentWidget()->objectName().toStdString();
    const std::string name = run::operationForPage(pageName, inputs_);
    if (name.empty()) return; // the Table View: Run does nothing there
    const run::Operation* operation = operationNamed(name);
    if (!operation) return;
    run::RunContext context{*host_, session_, inputs_, *shared_};
    session_.conversionLosses() = 0;
    // What the run writes to file tables is backed up first, for File → Undo last run.
    tables::RunBackupScope backup(session_, pageName);
    guarded([&] { (*operation)(context); });
    guarded([&] { backup.finish(); });
    // Characters lost to a code page are reported once, after the run.
    if (const auto lost = session_.conversionLosses())
        message(run::MessageKind::Information, fromEngine(run::conversionLossMessage(lost)));
}

void TFieldsmithForm::PreviewBtnClick() {
    if (running_ || !PageControl1->currentWidget()) return;
    const std::string pageName = PageControl1->currentWidget()->objectName().toStdString();
    const std::string name = run::operationForPage(pageName, inputs_);
    if (const std::string refusal = tables::previewRefusal(name, inputs_); !refusal.empty()) {
        message(run::MessageKind::Information, fromEngine(refusal));
        return;
    }
    const run::Operation* operation = operationNamed(name);
    if (!operation) return;
    run::RunContext context{*host_, session_, inputs_, *shared_};
    session_.conversionLosses() = 0;
    std::optional<tables::PreviewResult> result;
    guarded([&] { result = tables::previewRun(context, *operation); });
    session_.conversionLosses() = 0; // the run reports them when it reads the tables again
    // An error or a check ended the preview; its message box said why.
    if (!result || result->errors > 0) return;
    if (dialogs_->preview(this, *result)) RunBtnClick();
}

void TFieldsmithForm::ensureOracleLogon(const char* page) {
    if (running_) return;
    run::RunContext context{*host_, session_, inputs_, *shared_};
    guarded([&] { run::EnsureOracleLogon(context, page); });
}

// The alias manager; the session reads aliases.ini again after each change, so that the
// pickers list the aliases as they now are.
void TFieldsmithForm::Aliases1Click() {
    if (running_) return;
    TAliasForm form(this, session_.configDir() / "aliases.ini", *dialogs_,
                    [this] { guarded([this] { session_.loadConfiguration(); }); });
    form.exec();
}

// Puts the tables of the last run back as they were before it, after the user confirmed
// the run by name; refused when a table changed since.
void TFieldsmithForm::UndoRun1Click() {
    if (running_) return;
    guarded([&] {
        const auto runs = tables::listBackupRuns(session_.configDir());
        if (runs.empty()) {
            message(run::MessageKind::Information, fromEngine(tables::kNothingToUndo));
            return;
        }
        if (const std::string refusal = tables::undoRefusal(runs.front()); !refusal.empty()) {
            message(run::MessageKind::Error, fromEngine(refusal));
            return;
        }
        if (!message(run::MessageKind::Confirmation, fromEngine(tables::undoQuestion(runs.front())))) return;
        tables::undoRun(runs.front(), session_);
        message(run::MessageKind::Information,
                fromEngine("The run " + runs.front().describe() + " was undone."));
    });
}

void TFieldsmithForm::CancelBtnClick() {
    host_->CancelRequested = 1;
}

void TFieldsmithForm::Beenden1Click() {
    close();
    QCoreApplication::quit();
}

void TFieldsmithForm::closeEvent(QCloseEvent* event) {
    if (running_) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool TFieldsmithForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PageControl1 && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool next = key->key() == Qt::Key_Tab;
        const bool previous = key->key() == Qt::Key_Backtab;
        if ((next || previous) && (key->modifiers() & Qt::ControlModifier)) {
            const int n = PageControl1->count();
            int i = PageControl1->currentIndex();
            for (int step = 0; step < n; ++step) {
                i = (i + (next ? 1 : n - 1)) % n;
                if (PageControl1->isTabVisible(i) && PageControl1->isTabEnabled(i)) break;
            }
            PageControl1->setCurrentIndex(i); // a user's tab choice: the info text follows
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFieldsmithForm::HelpBtn1Click() {
    helpWindow_->showHelpFile(helpFile_);
}

void TFieldsmithForm::UpdateAnsicht(bool value) {
    running_ = !value;
    RunBtn->setEnabled(value);
    PreviewBtn->setEnabled(value);
    CloseBtn->setEnabled(value);
    Beenden1->setEnabled(value);
    UndoRun1->setEnabled(value);
    Aliases1->setEnabled(value);
    CancelBtn->setEnabled(!value);
}

void TFieldsmithForm::WarteMaus() {
    for (QToolButton* b :
         findChild<QToolBar*>(QStringLiteral("ToolBar1"))->findChildren<QToolButton*>())
        b->setCursor(Qt::WaitCursor);
    for (int i = 0; i < PageControl1->count(); ++i)
        PageControl1->widget(i)->setCursor(Qt::WaitCursor);
}

void TFieldsmithForm::PfeilMaus() {
    for (QToolButton* b :
         findChild<QToolBar*>(QStringLiteral("ToolBar1"))->findChildren<QToolButton*>())
        b->setCursor(Qt::ArrowCursor);
    for (int i = 0; i < PageControl1->count(); ++i)
        PageControl1->widget(i)->setCursor(Qt::ArrowCursor);
}

QString TFieldsmithForm::GetExePath() {
    return QCoreApplication::applicationDirPath();
}

void TFieldsmithForm::showPage(const QString& pageName) {
    QWidget* target = page(pageName);
    if (!target) return;
    pageChangeFromCode_ = true;
    PageControl1->setCurrentWidget(target);
    pageChangeFromCode_ = false;
}

QWidget* TFieldsmithForm::page(const QString& pageName) const {
    for (int i = 0; i < PageControl1->count(); ++i)
        if (PageControl1->widget(i)->objectName() == pageName) return PageControl1->widget(i);
    return nullptr;
}

bool TFieldsmithForm::message(run::MessageKind kind, const QString& text) {
    return dialogs_->message(this, kind, qstr(run::kApplicationTitle), text);
}

void TFieldsmithForm::showApplicationError(const QString& text) {
    message(run::MessageKind::Error, text);
}

void TFieldsmithForm::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        showApplicationError(fromEngine(e.what()));
    }
}

void TFieldsmithForm::writeBackInput(const QString& control) {
    auto it = writeBacks_.find(control);
    if (it != writeBacks_.end()) (*it)();
}

ui::TZipMsgForm* TFieldsmithForm::zipMsgForm() {
    if (!zipMsgForm_) zipMsgForm_ = new ui::TZipMsgForm(this);
    return zipMsgForm_;
}

QLabel* TFieldsmithForm::statusPanel(int panel) const {
    return panel >= 0 && panel < 4 ? panels_[panel] : nullptr;
}

} // namespace fieldsmith::app
