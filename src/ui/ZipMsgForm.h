// The ZIP status form, which this program uses as the log window of the script import:
// a read-only plain-text log box over a status bar; its tool bar and progress rows stay
// hidden.
#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QStatusBar;
class QToolBar;
class QWidget;

namespace fieldsmith::ui {

class TZipMsgForm : public QDialog {
    Q_OBJECT
public:
    explicit TZipMsgForm(QWidget* parent = nullptr);

    //! Hides the tool bar and the progress and file rows: only the log and status remain.
    void showLogOnly();
    void clearLog();
    //! Adds a line and scrolls to the end.
    void appendLine(const QString& line);
    QStringList lines() const;

private:
    QPlainTextEdit* RichEdit1;
    QStatusBar* StatusBar1;
    QToolBar* ToolBar;
    QWidget* FileRow;
    QWidget* TotalRow;
    QWidget* ArchiveRow;
};

} // namespace fieldsmith::ui
