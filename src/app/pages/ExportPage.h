// The ORACLE Import/Export page (ExportSeite): INSERT scripts from an Oracle table, and
// scripts run against Oracle with a log.
#pragma once

#include "viewer/OpenWithApplication.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QRadioButton;
class QToolBar;

namespace fieldsmith::app {

class TFieldsmithForm;
class TPickerBox;

class TExportPage : public QWidget {
    Q_OBJECT
public:
    TExportPage(TFieldsmithForm& form, QWidget* parent = nullptr);

    //! A chosen table proposes the script file: temporary directory, table, time, suffix.
    void ExportTabChange();
    //! The log file follows the script file in import mode; the table box follows the
    //! file name.
    void ExportFileEditChange();
    //! Lays the page out for export or import.
    void SetExportImportMode();
    //! Picks the script file with the file picker.
    void ToolButton18Click();
    //! A double click on the script or log file box opens that file with its application.
    void ExportFileEditDblClick();
    void LogFileEditDblClick();

    //! How files are opened; tests replace its parts.
    viewer::OpenWithHost openWith;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFieldsmithForm& form_;
    QRadioButton* ExportSelect;
    TPickerBox* ExportTab;
    QLineEdit* ExportFileEdit;
    QLineEdit* LogFileEdit;
    QLabel* TablePropsLabel;
    QLabel* ExportDescription;
    QLabel* ImportDescription;
    QWidget* NumberPanel;
    QWidget* StartPanel;
    QWidget* LogPanel;
    QLabel* FilePanelLabel;
    QToolBar* ImportFileToolbar;
};

} // namespace fieldsmith::app
