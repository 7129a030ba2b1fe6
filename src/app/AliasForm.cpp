#include "app/AliasForm.h"

#include "app/DialogService.h"
#include "app/run/Texts.h"
#include "engine/FieldDef.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace fieldsmith::app {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// The parameter that holds an alias type's location.
const char* locationKey(const QString& type) {
    return type == QLatin1String("STANDARD") ? "PATH" : "SERVER NAME";
}

} // namespace

TAliasForm::TAliasForm(QWidget* parent, std::filesystem::path aliasesFile, DialogService& dialogs,
                       std::function<void()> changed)
    : QDialog(parent), file_(std::move(aliasesFile)), dialogs_(dialogs),
      changed_(std::move(changed)) {
    setObjectName(QStringLiteral("AliasForm"));
    setWindowTitle(QStringLiteral("Aliases"));

    AliasList = new QListWidget(this);
    AliasList->setObjectName(QStringLiteral("AliasList"));
    AliasList->setMinimumWidth(160);

    NameEdit = new QLineEdit(this);
    NameEdit->setObjectName(QStringLiteral("NameEdit"));
    TypeBox = new QComboBox(this);
    TypeBox->setObjectName(QStringLiteral("TypeBox"));
    TypeBox->addItems(
        {QStringLiteral("STANDARD"), QStringLiteral("SQLITE"), QStringLiteral("POSTGRESQL")});
    PathEdit = new QLineEdit(this);
    PathEdit->setObjectName(QStringLiteral("PathEdit"));
    PathEdit->setMinimumWidth(280);
    auto* browseBtn = new QToolButton(this);
    browseBtn->setText(QStringLiteral("…"));
    browseBtn->setToolTip(QStringLiteral("Choose the directory or database file"));
    UserEdit = new QLineEdit(this);
    UserEdit->setObjectName(QStringLiteral("UserEdit"));

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(PathEdit);
    pathRow->addWidget(browseBtn);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Name:"), NameEdit);
    form->addRow(QStringLiteral("&Type:"), TypeBox);
    pathLabel_ = new QLabel(this);
    form->addRow(pathLabel_, pathRow);
    userLabel_ = new QLabel(QStringLiteral("&User name:"), this);
    userLabel_->setBuddy(UserEdit);
    form->addRow(userLabel_, UserEdit);

    NewBtn = new QPushButton(QStringLiteral("&New"), this);
    SaveBtn = new QPushButton(QStringLiteral("&Save"), this);
    RemoveBtn = new QPushButton(QStringLiteral("&Remove"), this);
    CheckBtn = new QPushButton(QStringLiteral("&Check"), this);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {NewBtn, SaveBtn, RemoveBtn, CheckBtn})
        buttons->addWidget(b);
    buttons->addStretch();
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto* right = new QVBoxLayout;
    right->addLayout(form);
    right->addLayout(buttons);
    right->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(AliasList);
    top->addLayout(right, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(close);

    connect(AliasList, &QListWidget::currentRowChanged, this, &TAliasForm::showAlias);
    connect(TypeBox, &QComboBox::currentTextChanged, this, &TAliasForm::typeChanged);
    connect(browseBtn, &QToolButton::clicked, this, &TAliasForm::browse);
    connect(NewBtn, &QPushButton::clicked, this, &TAliasForm::NewBtnClick);
    connect(SaveBtn, &QPushButton::clicked, this, [this] { SaveBtnClick(); });
    connect(RemoveBtn, &QPushButton::clicked, this, &TAliasForm::RemoveBtnClick);
    connect(CheckBtn, &QPushButton::clicked, this, &TAliasForm::CheckBtnClick);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);

    typeChanged();
    reload();
    if (aliases_.empty()) NewBtnClick();
}

bool TAliasForm::say(run::MessageKind kind, const QString& text) {
    return dialogs_.message(this, kind, QStringLiteral("Aliases"), text);
}

void TAliasForm::reload(const QString& select) {
    try {
        aliases_ = engine::AliasesFile(file_).aliases();
    } catch (const std::exception& e) {
        aliases_.clear();
        say(run::MessageKind::Error, q(e.what()));
    }
    const QSignalBlocker block(AliasList);
    AliasList->clear();
    int current = aliases_.empty() ? -1 : 0;
    for (std::size_t i = 0; i < aliases_.size(); ++i) {
        AliasList->addItem(q(aliases_[i].name));
        if (!select.isEmpty() && engine::sameName(aliases_[i].name, select.toStdString()))
            current = static_cast<int>(i);
    }
    AliasList->setCurrentRow(current);
    showAlias(current);
}

void TAliasForm::showAlias(int row) {
    RemoveBtn->setEnabled(row >= 0);
    if (row < 0 || row >= static_cast<int>(aliases_.size())) return;
    const engine::AliasEntry& a = aliases_[static_cast<std::size_t>(row)];
    NameEdit->setText(q(a.name));
    QString type = q(a.param("TYPE")).toUpper();
    if (type.isEmpty()) type = QStringLiteral("STANDARD");
    if (TypeBox->findText(type) < 0) TypeBox->addItem(type); // shown as it is, kept on save
    TypeBox->setCurrentText(type);
    PathEdit->setText(q(a.param(locationKey(type))));
    UserEdit->setText(q(a.param("USER NAME")));
}

void TAliasForm::typeChanged() {
    const QString type = TypeBox->currentText();
    pathLabel_->setText(type == QLatin1String("STANDARD") ? QStringLiteral("&Directory:")
                        : type == QLatin1String("SQLITE")
                            ? QStringLiteral("&Database file:")
                            : QStringLiteral("&Server (host[:port]/database):"));
    pathLabel_->setBuddy(PathEdit);
    const bool server = type == QLatin1String("POSTGRESQL");
    userLabel_->setVisible(server);
    UserEdit->setVisible(server);
}

void TAliasForm::browse() {
    const QString type = TypeBox->currentText();
    QString chosen;
    if (type == QLatin1String("STANDARD"))
        chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Directory of the alias"),
                                                   PathEdit->text());
    else if (type == QLatin1String("SQLITE"))
        chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Database file of the alias"),
                                              PathEdit->text(), QString(), nullptr,
                                              QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty()) PathEdit->setText(chosen);
}

void TAliasForm::NewBtnClick() {
    const QSignalBlocker block(AliasList);
    AliasList->setCurrentRow(-1);
    RemoveBtn->setEnabled(false);
    NameEdit->clear();
    TypeBox->setCurrentText(QStringLiteral("STANDARD"));
    PathEdit->clear();
    UserEdit->clear();
    NameEdit->setFocus();
}

// The alias as the fields show it; parameters the dialog does not edit are kept.
engine::AliasEntry TAliasForm::entryFromFields() const {
    engine::AliasEntry entry{NameEdit->text().trimmed().toStdString(), {}};
    const int row = AliasList->currentRow();
    if (row >= 0 && row < static_cast<int>(aliases_.size()) &&
        engine::sameName(aliases_[static_cast<std::size_t>(row)].name, entry.name))
        entry.params = aliases_[static_cast<std::size_t>(row)].params;
    auto put = [&](const std::string& key, const QString& value) {
        for (auto& [k, v] : entry.params)
            if (engine::sameName(k, key)) {
                v = value.trimmed().toStdString();
                return;
            }
        if (!value.trimmed().isEmpty())
            entry.params.emplace_back(key, value.trimmed().toStdString());
    };
    const QString type = TypeBox->currentText();
    put("TYPE", type);
    // A type's location only: a directory alias has no server name and the other way round.
    const std::string other = type == QLatin1String("STANDARD") ? "SERVER NAME" : "PATH";
    std::erase_if(entry.params, [&](const auto& p) { return engine::sameName(p.first, other); });
    put(locationKey(type), PathEdit->text());
    if (type == QLatin1String("POSTGRESQL"))
        put("USER NAME", UserEdit->text());
    else
        std::erase_if(entry.params,
                      [](const auto& p) { return engine::sameName(p.first, "USER NAME"); });
    return entry;
}

bool TAliasForm::SaveBtnClick() {
    const engine::AliasEntry entry = entryFromFields();
    if (entry.name.empty()) {
        say(run::MessageKind::Error, QStringLiteral("The alias needs a name."));
        NameEdit->setFocus();
        return false;
    }
    // Another alias of the same name is replaced only when the user says so.
    const int row = AliasList->currentRow();
    for (std::size_t i = 0; i < aliases_.size(); ++i) {
        if (static_cast<int>(i) == row || !engine::sameName(aliases_[i].name, entry.name)) continue;
        if (!say(
                run::MessageKind::Confirmation,
                QStringLiteral("An alias %1 exists already. Replace it?").arg(q(aliases_[i].name))))
            return false;
    }
    if (const std::string why = engine::aliasReachability(entry); !why.empty()) {
        if (!say(run::MessageKind::Confirmation,
                 q(why) + QStringLiteral("\rSave the alias all the same?")))
            return false;
    }
    try {
        engine::AliasesFile file(file_);
        // A renamed alias leaves its old section.
        if (row >= 0 && row < static_cast<int>(aliases_.size()) &&
            !engine::sameName(aliases_[static_cast<std::size_t>(row)].name, entry.name))
            file.remove(aliases_[static_cast<std::size_t>(row)].name);
        file.set(entry);
        file.save();
    } catch (const std::exception& e) {
        say(run::MessageKind::Error, q(e.what()));
        return false;
    }
    if (changed_) changed_();
    reload(q(entry.name));
    return true;
}

void TAliasForm::RemoveBtnClick() {
    const int row = AliasList->currentRow();
    if (row < 0 || row >= static_cast<int>(aliases_.size())) return;
    const QString name = q(aliases_[static_cast<std::size_t>(row)].name);
    if (!say(run::MessageKind::Confirmation,
             QStringLiteral("Remove the alias %1? Its tables stay where they are.").arg(name)))
        return;
    try {
        engine::AliasesFile file(file_);
        file.remove(name.toStdString());
        file.save();
    } catch (const std::exception& e) {
        say(run::MessageKind::Error, q(e.what()));
        return;
    }
    if (changed_) changed_();
    reload();
}

void TAliasForm::CheckBtnClick() {
    const std::string why = engine::aliasReachability(entryFromFields());
    if (why.empty())
        say(run::MessageKind::Information, QStringLiteral("The alias can be reached."));
    else
        say(run::MessageKind::Error, q(why));
}

} // namespace fieldsmith::app
