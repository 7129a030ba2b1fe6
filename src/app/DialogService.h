// The window's message boxes and save dialog behind one interface, so that tests can
// replace the real dialogs with scripted answers.
#pragma once

#include "app/run/RunHost.h"
#include "tables/Preview.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace fieldsmith::app {

struct SaveDialogRequest {
    QString directory;
    QString fileName;
    QString defaultSuffix;
    QStringList filters;
};

class DialogService {
public:
    virtual ~DialogService() = default;
    //! Shows a message box of the given kind; true for OK (retry) or Yes (questions).
    virtual bool message(QWidget* parent, run::MessageKind kind, const QString& caption,
                         const QString& text) = 0;
    virtual std::optional<QString> saveFile(QWidget* parent, const SaveDialogRequest& request) = 0;
    //! Asks for a password (not shown as it is typed); nothing for Cancel.
    virtual std::optional<QString> password(QWidget* parent, const QString& caption,
                                            const QString& prompt) = 0;
    //! The Oracle logon dialog filled with the form: true for OK, with the entries in form.
    virtual bool logon(QWidget* parent, run::LogonForm& form) = 0;
    //! The preview window with what a preview found: true when the user asks to run now.
    virtual bool preview(QWidget* parent, const tables::PreviewResult& result) = 0;
};

//! The toolkit's message boxes and file dialog. Texts use a lone carriage return as their
//! line break; it is shown as one.
class MessageBoxDialogs : public DialogService {
public:
    bool message(QWidget* parent, run::MessageKind kind, const QString& caption,
                 const QString& text) override;
    std::optional<QString> saveFile(QWidget* parent, const SaveDialogRequest& request) override;
    std::optional<QString> password(QWidget* parent, const QString& caption,
                                    const QString& prompt) override;
    bool logon(QWidget* parent, run::LogonForm& form) override;
    bool preview(QWidget* parent, const tables::PreviewResult& result) override;
};

//! Answers from a script; records what was shown.
class ScriptedDialogs : public DialogService {
public:
    struct Shown {
        run::MessageKind kind;
        QString caption;
        QString text;
    };
    std::vector<Shown> shown;
    std::vector<SaveDialogRequest> saveRequests;
    std::deque<bool> answers; //!< for retry and question boxes, in order
    bool defaultAnswer = true;
    std::optional<QString> savePath;
    std::optional<QString> passwordAnswer; //!< nothing: Cancel
    QStringList passwordPrompts;
    //! The logon dialog's boxes at each showing, and the answers: user name, password,
    //! database (empty: as shown), or nothing for Cancel; Cancel when they run out.
    std::vector<run::LogonForm> logonsShown;
    struct LogonAnswer {
        QString username, password, database;
    };
    std::deque<std::optional<LogonAnswer>> logonAnswers;
    //! What each preview window showed, and whether it asks to run (Run) or not (Close).
    std::vector<tables::PreviewResult> previewsShown;
    bool previewRunAnswer = false;
    //! Called while a box is "open", before it is answered: tests look at the window here.
    std::function<void(const Shown&)> onShow;

    QStringList textsOf(run::MessageKind kind) const;

    bool message(QWidget* parent, run::MessageKind kind, const QString& caption,
                 const QString& text) override;
    std::optional<QString> saveFile(QWidget* parent, const SaveDialogRequest& request) override;
    std::optional<QString> password(QWidget* parent, const QString& caption,
                                    const QString& prompt) override;
    bool logon(QWidget* parent, run::LogonForm& form) override;
    bool preview(QWidget* parent, const tables::PreviewResult& result) override;
};

} // namespace fieldsmith::app
