// The Change Field part./convert page (Seite3): nine modes that rewrite one field.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace fieldsmith::app {

class TFieldsmithForm;
class TPickerBox;

class TChangePartPage : public QWidget {
    Q_OBJECT
public:
    TChangePartPage(TFieldsmithForm& form, QWidget* parent = nullptr);

    //! Lays the page out for the selected mode: which inputs are enabled, label colours and
    //! the caption of the new-string label.
    void updateAnzeige();
    //! SizeEdit shows exactly while SizeBox is ticked.
    void updateSizeAnsicht();
    //! The condition buttons and text show exactly while IfCheckAddString1 is ticked.
    void updateIfCheckAddAnsicht();
    //! On leaving SizeEdit, IfCheckAddString2 or CRLFStellenEdit: SizeEdit must hold a
    //! whole number, else "Value must be a number!" and the focus goes back to it.
    void SizeEditExit();
    //! Lists the table's indexes, each as its field list (uses the shared TempTable).
    void Index3BoxDropDown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFieldsmithForm& form_;
    TPickerBox* Change2Alias;
    TPickerBox* Change2Table;
    TPickerBox* Index3Box;
    QLineEdit* vonEdit;
    QLineEdit* zuEdit;
    QLabel* vonLabel;
    QLabel* zuLabel;
    QRadioButton* StringChange;
    QRadioButton* AddSiteIDBtn;
    QCheckBox* SizeBox;
    QLineEdit* SizeEdit;
    QCheckBox* Index3Check;
    QCheckBox* IfCheckAddString1;
    QRadioButton* IfCheckAddContain;
    QRadioButton* IfCheckAddNotContain;
    QLineEdit* IfCheckAddString2;
    QLineEdit* CRLFStellenEdit;
    bool inSizeEditExit_ = false;
};

} // namespace fieldsmith::app
