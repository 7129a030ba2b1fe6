// The CSV-Files page (CSVMakeTable): a new table from a CSV file, or a table to a CSV file.
#pragma once

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace fieldsmith::app {

class TFieldsmithForm;

class TCsvPage : public QWidget {
    Q_OBJECT
public:
    TCsvPage(TFieldsmithForm& form, QWidget* parent = nullptr);

    //! CSVtoPdxEdit follows CSVEdit: the file name up to its last dot in upper case + "DB".
    void UpdateCsvTargetName();
    //! Lays the page out for the direction chosen on CSVOptionsPanel.
    void UpdateCsvOptions();
    //! Picks the CSV file with the file picker.
    void DirBtnClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFieldsmithForm& form_;
    QLineEdit* CSVEdit;
    QLineEdit* CSVtoPdxEdit;
    QCheckBox* FeldNamenCheck;
    QCheckBox* CsvUseEncloseCharForFieldsCheck;
    QCheckBox* noEncloseCharForEmptyFieldsCheck;
    QRadioButton* GenParadoxFromCSV;
    QLabel* MemoNote;
    QGroupBox* TargetGroup; //!< the frame of the target's labels and box
    QLabel* TargetTableLabel;
    QLabel* PdxNameLabel;
};

} // namespace fieldsmith::app
