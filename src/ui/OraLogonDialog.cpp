#include "ui/OraLogonDialog.h"

#include "app/TextCodec.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace fieldsmith::ui {

namespace {

const char* modeText(run::LogonMode mode) {
    switch (mode) {
    case run::LogonMode::SysDba:
        return "SYSDBA";
    case run::LogonMode::SysOper:
        return "SYSOPER";
    case run::LogonMode::Normal:
        break;
    }
    return "Normal";
}

} // namespace

TOraLogonDialog::TOraLogonDialog(const run::LogonForm& form, QWidget* parent)
    : QDialog(parent), form_(form) {
    setObjectName(QStringLiteral("OraLogon"));
    setWindowTitle(app::fromEngine(form.caption));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    auto* boxes = new QFormLayout;
    layout->addLayout(boxes);

    UserEdit = new QLineEdit(app::fromEngine(form.username), this);
    UserEdit->setObjectName(QStringLiteral("UserEdit"));
    boxes->addRow(QStringLiteral("&Username:"), UserEdit);

    PasswordEdit = new QLineEdit(app::fromEngine(form.password), this);
    PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
    PasswordEdit->setEchoMode(QLineEdit::Password);
    boxes->addRow(QStringLiteral("&Password:"), PasswordEdit);

    DatabaseBox = new QComboBox(this);
    DatabaseBox->setObjectName(QStringLiteral("DatabaseBox"));
    DatabaseBox->setEditable(true);
    DatabaseBox->setInsertPolicy(QComboBox::NoInsert);
    DatabaseBox->setMaxVisibleItems(form.databaseDropDownCount);
    for (const auto& name : form.databases)
        DatabaseBox->addItem(app::fromEngine(name));
    DatabaseBox->setEditText(app::fromEngine(form.database));
    boxes->addRow(QStringLiteral("&Database:"), DatabaseBox);

    ConnectAsBox = new QComboBox(this);
    ConnectAsBox->setObjectName(QStringLiteral("ConnectAsBox"));
    for (auto mode : {run::LogonMode::Normal, run::LogonMode::SysDba, run::LogonMode::SysOper})
        ConnectAsBox->addItem(QString::fromLatin1(modeText(mode)));
    ConnectAsBox->setCurrentIndex(static_cast<int>(form.connectAs));
    boxes->addRow(QStringLiteral("&Connect as:"), ConnectAsBox);

    auto* buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    HistoryBtn = new QToolButton(this);
    HistoryBtn->setObjectName(QStringLiteral("HistoryBtn"));
    HistoryBtn->setText(QStringLiteral("&History"));
    HistoryBtn->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(HistoryBtn);
    for (std::size_t i = 0; i < form.history.size(); ++i) {
        const run::LogonHistoryEntry& e = form.history[i];
        QString text = app::fromEngine(e.username) + QLatin1Char('@') + app::fromEngine(e.database);
        if (e.connectAs != run::LogonMode::Normal)
            text += QStringLiteral(" as ") + QString::fromLatin1(modeText(e.connectAs));
        const int index = static_cast<int>(i);
        menu->addAction(text, this, [this, index] { applyHistory(index); });
    }
    HistoryBtn->setMenu(menu);
    HistoryBtn->setEnabled(!form.history.empty());
    buttons->addWidget(HistoryBtn);
    buttons->addStretch(1);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    box->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OKBtn"));
    box->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("CancelBtn"));
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    buttons->addWidget(box);

    // The password is what is missing when a user name is already given.
    (form.username.empty() ? UserEdit : PasswordEdit)->setFocus();
}

run::LogonForm TOraLogonDialog::entries() const {
    run::LogonForm form = form_;
    form.username = app::toEngine(UserEdit->text().trimmed());
    form.password = app::toEngine(PasswordEdit->text());
    form.database = app::toEngine(DatabaseBox->currentText().trimmed());
    form.connectAs = static_cast<run::LogonMode>(ConnectAsBox->currentIndex());
    return form;
}

void TOraLogonDialog::applyHistory(int index) {
    if (index < 0 || index >= static_cast<int>(form_.history.size())) return;
    const run::LogonHistoryEntry& e = form_.history[static_cast<std::size_t>(index)];
    UserEdit->setText(app::fromEngine(e.username));
    PasswordEdit->clear();
    DatabaseBox->setEditText(app::fromEngine(e.database));
    ConnectAsBox->setCurrentIndex(static_cast<int>(e.connectAs));
    PasswordEdit->setFocus();
}

} // namespace fieldsmith::ui
