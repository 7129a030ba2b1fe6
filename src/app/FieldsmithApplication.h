// The application object: its title is "KR4 Fieldsmith", and an error that no handler
// caught is shown in the application's error box under that title.
#pragma once

#include <QApplication>

namespace fieldsmith::app {

class FieldsmithApplication : public QApplication {
    Q_OBJECT
public:
    FieldsmithApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    //! The arguments the program was started with, without the program name, as it
    //! received them: before the toolkit took out its own options, which must not move the
    //! program's first argument.
    static const QStringList& programArguments();

private:
    static int captureArguments(int argc, char** argv);
};

} // namespace fieldsmith::app
