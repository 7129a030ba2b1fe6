#include "app/HelpWindow.h"

#include "app/FieldsmithForm.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace fieldsmith::app {

THelpWindow::THelpWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Fieldsmith Help"));
    auto* layout = new QVBoxLayout(this);
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenExternalLinks(false);
    layout->addWidget(browser_);
    resize(640, 520);
}

QString THelpWindow::pageFileFor(const QString& helpFile) {
    return QFileInfo(helpFile).completeBaseName() + QStringLiteral(".html");
}

QString THelpWindow::helpDirectory() {
    const QString env = qEnvironmentVariable("FIELDSMITH_HELP_DIR");
    if (!env.isEmpty() && QDir(env).exists()) return env;
    const QString besideExe = TFieldsmithForm::GetExePath() + QStringLiteral("/help");
    if (QDir(besideExe).exists()) return besideExe;
    // Installed: bin/ and share/fieldsmith/help/ below the same prefix.
    const QString installed = QDir(TFieldsmithForm::GetExePath())
                                  .filePath(QString::fromUtf8("../" FIELDSMITH_INSTALL_HELPDIR));
    if (QDir(installed).exists()) return QDir::cleanPath(installed);
    return QStringLiteral(FIELDSMITH_HELP_SOURCE_DIR);
}

void THelpWindow::showHelpFile(const QString& helpFile) {
    currentPage_ = QDir(helpDirectory()).filePath(pageFileFor(helpFile));
    if (QFileInfo::exists(currentPage_)) {
        browser_->setSource(QUrl::fromLocalFile(currentPage_));
    } else {
        browser_->setPlainText(QStringLiteral("No help page for %1.").arg(helpFile));
    }
    show();
    raise();
}

} // namespace fieldsmith::app
