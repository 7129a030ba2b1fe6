#include "app/FieldsmithApplication.h"

#include "app/run/Texts.h"

#include <QMessageBox>
#include <exception>

namespace fieldsmith::app {

FieldsmithApplication::FieldsmithApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(run::kApplicationTitle.data(),
                                           static_cast<int>(run::kApplicationTitle.size())));
}

bool FieldsmithApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        QMessageBox::critical(activeWindow(), applicationName(), QString::fromStdString(e.what()));
    }
    return false;
}

} // namespace fieldsmith::app
