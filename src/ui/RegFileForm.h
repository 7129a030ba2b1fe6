// The dialog in which the user registers a program for a file extension: a prompt, the
// program's full path, a browse button and OK / Cancel. Shown modally.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QToolButton;

namespace fieldsmith::ui {

class TRegFileForm : public QDialog {
    Q_OBJECT
public:
    explicit TRegFileForm(QWidget* parent = nullptr);

    //! Replaces the first prompt line (Label1).
    void setPrompt(const QString& text);
    //! The text of AnwendungEdit.
    QString program() const;

    void FormCreate();
    //! Browses for the program with the file picker; after OK its path fills the box.
    void DirBtnClick();
    void CancelBtnClick() { reject(); }
    void DeleteBtnClick() { accept(); }

private:
    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* AnwendungEdit;
    QToolButton* DirBtn;
    QToolButton* CancelBtn;
    QToolButton* DeleteBtn;
};

} // namespace fieldsmith::ui
