// The Oracle logon dialog's window: user name, password (not shown), database with the
// list of known databases, connect-as choice, and a history button with the run's earlier
// logons. It only collects the entries; connecting and retrying belong to the caller.
#pragma once

#include "app/run/RunHost.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QToolButton;

namespace fieldsmith::ui {

class TOraLogonDialog : public QDialog {
    Q_OBJECT
public:
    //! A dialog showing the form's values; entries() gives the user's after OK.
    explicit TOraLogonDialog(const run::LogonForm& form, QWidget* parent = nullptr);

    //! The form with the user's entries.
    run::LogonForm entries() const;
    //! Fills the boxes from an earlier logon; the password is left empty.
    void applyHistory(int index);

private:
    run::LogonForm form_;
    QLineEdit* UserEdit;
    QLineEdit* PasswordEdit;
    QComboBox* DatabaseBox;
    QComboBox* ConnectAsBox;
    QToolButton* HistoryBtn;
};

} // namespace fieldsmith::ui
