#include "app/FieldsmithApplication.h"

#include "app/run/Texts.h"

#include <QMessageBox>
#include <exception>

namespace fieldsmith::app {

namespace {
QStringList gProgramArguments; // one application per process
}

// Runs before the QApplication base takes its options out of argv.
int FieldsmithApplication::captureArguments(int argc, char** argv) {
    gProgramArguments.clear();
    for (int i = 1; i < argc; ++i) gProgramArguments << QString::fromLocal8Bit(argv[i]);
    return 0;
}

const QStringList& FieldsmithApplication::programArguments() {
    return gProgramArguments;
}

FieldsmithApplication::FieldsmithApplication(int& argc, char** argv)
    : QApplication((captureArguments(argc, argv), argc), argv) {
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
