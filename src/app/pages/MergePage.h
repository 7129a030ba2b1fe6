// The Merge Fields page (Seite4): up to three fields with separators into a target field.
#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;

namespace fieldsmith::app {

class TFieldsmithForm;

class TMergePage : public QWidget {
    Q_OBJECT
public:
    TMergePage(TFieldsmithForm& form, QWidget* parent = nullptr);

    //! NumCharsEdit shows exactly while FeldLaengeCheck is ticked.
    void FeldLaengeCheckClick();

private:
    QCheckBox* FeldLaengeCheck;
    QLineEdit* NumCharsEdit;
};

} // namespace fieldsmith::app
