// The Add Primary page (Seite5): new key values, running or from the counter tables.
#pragma once

#include <QWidget>

namespace fieldsmith::app {

class TFieldsmithForm;

class TAddPrimaryPage : public QWidget {
    Q_OBJECT
public:
    TAddPrimaryPage(TFieldsmithForm& form, QWidget* parent = nullptr);

    //! The key names whose counter tables the product database holds.
    static QStringList keyNames();
};

} // namespace fieldsmith::app
