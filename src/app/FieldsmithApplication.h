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
};

} // namespace fieldsmith::app
