// The new Value IF page (Seite7): set a field where another field contains a string.
#pragma once

#include <QWidget>

class QLabel;
class QRadioButton;

namespace fieldsmith::app {

class TFieldsmithForm;
class TPickerBox;

class TNewValueIfPage : public QWidget {
    Q_OBJECT
public:
    TNewValueIfPage(TFieldsmithForm& form, QWidget* parent = nullptr);

    //! "Other Field: " and OtherFieldBox show exactly while ChangeUseOtherField is selected.
    void updateIfChangeAnsicht();

private:
    QRadioButton* ChangeUseOtherField;
    QLabel* OtherFieldLabel;
    TPickerBox* OtherFieldBox;
};

} // namespace fieldsmith::app
