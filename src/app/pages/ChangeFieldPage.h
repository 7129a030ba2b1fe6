// The Change Field page (Seite2): replace whole field values, optionally under a condition.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace fieldsmith::app {

class TFieldsmithForm;
class TPickerBox;

class TChangeFieldPage : public QWidget {
    Q_OBJECT
public:
    TChangeFieldPage(TFieldsmithForm& form, QWidget* parent = nullptr);

    //! The condition's labels and inputs show exactly while ChangeSubBedBox is checked.
    void updateBedingungAnsicht();

private:
    QCheckBox* ChangeSubBedBox;
    TPickerBox* BedingungFeld;
    QLineEdit* Bedingung;
    QLabel* BedingungFeldLabel;
    QLabel* BedingungLabel;
};

} // namespace fieldsmith::app
