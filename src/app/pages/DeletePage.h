// The Delete records page (DelPage): the first n records, or those with an empty field.
#pragma once

#include <QWidget>

namespace fieldsmith::app {

class TFieldsmithForm;

class TDeletePage : public QWidget {
    Q_OBJECT
public:
    TDeletePage(TFieldsmithForm& form, QWidget* parent = nullptr);
};

} // namespace fieldsmith::app
