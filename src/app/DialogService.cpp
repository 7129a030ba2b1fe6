#include "app/DialogService.h"

#include "app/PreviewForm.h"
#include "app/TextCodec.h"
#include "ui/OraLogonDialog.h"

#include <QInputDialog>
#include <QLineEdit>

#include <QFileDialog>
#include <QMessageBox>

namespace fieldsmith::app {

namespace {

QString withLineBreaks(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

bool MessageBoxDialogs::message(QWidget* parent, run::MessageKind kind, const QString& caption,
                                const QString& text) {
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(withLineBreaks(text));
    switch (kind) {
    case run::MessageKind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case run::MessageKind::Retry:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case run::MessageKind::Information:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case run::MessageKind::Confirmation:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case run::MessageKind::InfoQuestion:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    const int result = box.exec();
    return result == QMessageBox::Ok || result == QMessageBox::Yes;
}

std::optional<QString> MessageBoxDialogs::saveFile(QWidget* parent,
                                                   const SaveDialogRequest& request) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDirectory(request.directory);
    dialog.selectFile(request.fileName);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setNameFilters(request.filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

QStringList ScriptedDialogs::textsOf(run::MessageKind kind) const {
    QStringList out;
    for (const auto& s : shown)
        if (s.kind == kind) out << s.text;
    return out;
}

bool ScriptedDialogs::message(QWidget*, run::MessageKind kind, const QString& caption,
                              const QString& text) {
    shown.push_back({kind, caption, text});
    if (onShow) onShow(shown.back());
    if (kind == run::MessageKind::Error || kind == run::MessageKind::Information) return true;
    if (answers.empty()) return defaultAnswer;
    const bool a = answers.front();
    answers.pop_front();
    return a;
}

std::optional<QString> ScriptedDialogs::saveFile(QWidget*, const SaveDialogRequest& request) {
    saveRequests.push_back(request);
    return savePath;
}

std::optional<QString> MessageBoxDialogs::password(QWidget* parent, const QString& caption,
                                                   const QString& prompt) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, caption, prompt, QLineEdit::Password, QString(), &ok);
    if (!ok) return std::nullopt;
    return text;
}

std::optional<QString> ScriptedDialogs::password(QWidget*, const QString&, const QString& prompt) {
    passwordPrompts << prompt;
    return passwordAnswer;
}

bool MessageBoxDialogs::logon(QWidget* parent, run::LogonForm& form) {
    ui::TOraLogonDialog dialog(form, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    form = dialog.entries();
    return true;
}

bool ScriptedDialogs::logon(QWidget*, run::LogonForm& form) {
    logonsShown.push_back(form);
    if (logonAnswers.empty()) return false;
    const auto answer = logonAnswers.front();
    logonAnswers.pop_front();
    if (!answer) return false;
    form.username = toEngine(answer->username);
    form.password = toEngine(answer->password);
    if (!answer->database.isEmpty()) form.database = toEngine(answer->database);
    return true;
}

bool MessageBoxDialogs::preview(QWidget* parent, const tables::PreviewResult& result) {
    TPreviewForm form(parent, result);
    return form.exec() == QDialog::Accepted;
}

bool ScriptedDialogs::preview(QWidget*, const tables::PreviewResult& result) {
    previewsShown.push_back(result);
    return previewRunAnswer;
}

} // namespace fieldsmith::app
