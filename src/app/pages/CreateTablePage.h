// The Create Table page (CreateTableSeite): a new table with the structure of another.
#pragma once

#include <QWidget>

class QLineEdit;

namespace fieldsmith::app {

class TFieldsmithForm;
class TPickerBox;

class TCreateTablePage : public QWidget {
    Q_OBJECT
public:
    TCreateTablePage(TFieldsmithForm& form, QWidget* parent = nullptr);

    //! A non-empty source table name proposes "NEW" + name + ".DB" as the new table.
    void NeuTabBoxChange();

private:
    TPickerBox* NeuTabBox;
    QLineEdit* NeuTabelleEdit;
};

} // namespace fieldsmith::app
