// File → Aliases…: the aliases of aliases.ini listed, added, changed and removed, each
// checked for a reachable directory or server before it is saved. The file keeps the
// user's other lines; the window's pickers read the aliases again when the file changed.
#pragma once

#include "app/run/RunHost.h"
#include "engine/AliasesFile.h"

#include <QDialog>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace fieldsmith::app {

class DialogService;

class TAliasForm : public QDialog {
    Q_OBJECT
public:
    //! changed: called after the file was written, so that the session reads it again.
    TAliasForm(QWidget* parent, std::filesystem::path aliasesFile, DialogService& dialogs,
               std::function<void()> changed);

    // The dialog's parts, for tests.
    QListWidget* AliasList = nullptr;
    QLineEdit* NameEdit = nullptr;
    QComboBox* TypeBox = nullptr;
    QLineEdit* PathEdit = nullptr;
    QLineEdit* UserEdit = nullptr;
    QPushButton* NewBtn = nullptr;
    QPushButton* SaveBtn = nullptr;
    QPushButton* RemoveBtn = nullptr;
    QPushButton* CheckBtn = nullptr;

    void NewBtnClick();
    //! Checks the alias and writes the file; false when nothing was saved.
    bool SaveBtnClick();
    void RemoveBtnClick();
    void CheckBtnClick();

private:
    void reload(const QString& select = {});
    void showAlias(int row);
    void typeChanged();
    void browse();
    engine::AliasEntry entryFromFields() const;
    bool say(run::MessageKind kind, const QString& text);

    std::filesystem::path file_;
    DialogService& dialogs_;
    std::function<void()> changed_;
    std::vector<engine::AliasEntry> aliases_;
    QLabel* pathLabel_ = nullptr;
    QLabel* userLabel_ = nullptr;
};

} // namespace fieldsmith::app
