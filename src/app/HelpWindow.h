// The help window: shows the HTML page that stands for a page's help file.
#pragma once

#include <QDialog>

class QTextBrowser;

namespace fieldsmith::app {

class THelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* parent = nullptr);

    //! The HTML page of a help file name: MOVEFLD.HLP and FIELDSMITH.CHM become
    //! MOVEFLD.html and FIELDSMITH.html in the help directory.
    static QString pageFileFor(const QString& helpFile);
    //! Where the help pages are: beside the executable, else the source tree's help/.
    static QString helpDirectory();
    //! Shows the page of the help file at its top (help context 0).
    void showHelpFile(const QString& helpFile);
    QString currentPage() const { return currentPage_; }

private:
    QTextBrowser* browser_;
    QString currentPage_;
};

} // namespace fieldsmith::app
