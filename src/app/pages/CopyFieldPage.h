// The Copy Field page (Seite1): source and target table with key and value fields.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;

namespace fieldsmith::app {

class TFieldsmithForm;
class TPickerBox;

class TCopyFieldPage : public QWidget {
    Q_OBJECT
public:
    TCopyFieldPage(TFieldsmithForm& form, QWidget* parent = nullptr);

    //! The source field and its label are hidden while "empty target field" is checked.
    void updateEmptyTargetAnsicht();
    //! Both key fields and their labels are hidden while "generate new records" is checked.
    void updateGenNewRecsAnsicht();

private:
    QCheckBox* GenNewRecsCheck;
    QCheckBox* LeereTarget;
    TPickerBox* IndexFeld1Box;
    TPickerBox* IndexFeld2Box;
    TPickerBox* Feld2Box;
    QLabel* IndexFeld1Label;
    QLabel* IndexFeld2Label;
    QLabel* Feld2Label;
};

} // namespace fieldsmith::app
