// The main window: toolbar, info band, the page control with one page per operation, the
// status bar and the menu; the Run dispatch and the switch between idle and running.
#pragma once

#include "app/DialogService.h"
#include "app/run/Operations.h"
#include "app/run/PageInputs.h"
#include "ui/ZipMsgForm.h"

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QTabWidget;
class QToolButton;

namespace fieldsmith::engine {
class Session;
}
namespace fieldsmith::viewer {
class TTableViewPage;
}

namespace fieldsmith::app {

class PickerWiring;
class THelpWindow;
class WindowRunHost;
class TChangePartPage;
class TCsvPage;
class TabStrip;

class TFieldsmithForm : public QMainWindow {
    Q_OBJECT
public:
    //! arguments: the command line without the program name.
    TFieldsmithForm(engine::Session& session, const QStringList& arguments,
                    QWidget* parent = nullptr);
    ~TFieldsmithForm() override;

    engine::Session& session() { return session_; }
    run::PageInputs& inputs() { return inputs_; }
    run::SharedState& shared() { return *shared_; }
    run::OperationTable& operationTable() { return operations_; }
    WindowRunHost& runHost() { return *host_; }
    //! The Oracle logon outside a run (a picker of an Oracle page opening); the result is
    //! the session's state, errors are shown.
    void ensureOracleLogon(const char* page);
    PickerWiring& pickers() { return *pickers_; }
    DialogService& dialogs() { return *dialogs_; }
    void setDialogService(std::unique_ptr<DialogService> dialogs);
    //! The help file of the page last selected by tab ("MOVEFLD.HLP" at start).
    const QString& helpFile() const { return helpFile_; }
    bool running() const { return running_; }

    // --- the window's handlers
    void FormCreate(const QStringList& arguments);
    void PageControl1Change();
    void RunBtnClick();
    //! The page's run made on copies: every check and question, nothing written, then the
    //! preview window; its Run starts the real run.
    void PreviewBtnClick();
    void CancelBtnClick();
    void Beenden1Click();
    void UndoRun1Click();
    void Aliases1Click();
    void HelpBtn1Click();
    //! true: idle (Run, Close, File > Close enabled, Cancel disabled); false: running.
    void UpdateAnsicht(bool value);
    //! Hourglass over the toolbar buttons and the pages' empty areas.
    void WarteMaus();
    void PfeilMaus();
    //! The directory of the program's executable, without a trailing separator.
    static QString GetExePath();

    //! Brings a page to the front from code: the info text and help file stay.
    void showPage(const QString& pageName);
    QWidget* page(const QString& pageName) const;
    //! A message box of the window (caption: the application title).
    bool message(run::MessageKind kind, const QString& text);
    //! The application's error box for an error that no operation caught.
    void showApplicationError(const QString& text);
    //! Runs a handler; an error it throws reaches the application's error box.
    void guarded(const std::function<void()>& handler);
    //! Shows in its widget the value an operation wrote into a page input.
    void writeBackInput(const QString& control);

    THelpWindow* helpWindow() const { return helpWindow_; }
    ui::TZipMsgForm* zipMsgForm();
    void setZipMsgForm(ui::TZipMsgForm* form) { zipMsgForm_ = form; }
    //! A status bar panel, 0 to 3.
    QLabel* statusPanel(int panel) const;

protected:
    //! The window's own close box is refused while an operation runs, as Close is.
    void closeEvent(QCloseEvent* event) override;
    //! Ctrl+Tab and Ctrl+Shift+Tab go to the next shown page, never to a hidden one.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const run::Operation* operationNamed(const std::string& name);
    void buildToolBar();
    void buildMenu();
    void buildPages();
    void buildStatusBar();
    template <class Inputs> void bindInputs(QWidget* page, Inputs& inputs);

    engine::Session& session_;
    run::PageInputs inputs_;
    std::unique_ptr<run::SharedState> shared_;
    run::OperationTable operations_;
    std::unique_ptr<DialogService> dialogs_;
    std::unique_ptr<WindowRunHost> host_;
    std::unique_ptr<PickerWiring> pickers_;

    QString helpFile_;
    bool running_ = false;
    bool pageChangeFromCode_ = false;
    QMap<QString, std::function<void()>> writeBacks_;

    QToolButton* ToolButton1 = nullptr;
    QToolButton* RunBtn = nullptr;
    QToolButton* PreviewBtn = nullptr;
    QToolButton* CancelBtn = nullptr;
    QToolButton* HelpBtn1 = nullptr;
    QToolButton* CloseBtn = nullptr;
    QLabel* InfoLabel = nullptr;
    QTabWidget* PageControl1 = nullptr;
    TabStrip* tabStrip_ = nullptr;
    QAction* Beenden1 = nullptr;
    QAction* UndoRun1 = nullptr;
    QAction* Aliases1 = nullptr;
    QLabel* panels_[4] = {};
    TChangePartPage* changePartPage_ = nullptr;
    TCsvPage* csvPage_ = nullptr;
    viewer::TTableViewPage* tableViewPage_ = nullptr;
    THelpWindow* helpWindow_ = nullptr;
    QPointer<ui::TZipMsgForm> zipMsgForm_;
};

} // namespace fieldsmith::app
