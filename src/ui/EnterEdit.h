// Auxiliary dialogs and controls shared by the pages: the Enter-key edit box.
// Enter and Down move the focus to the next control in tab order, Up to the previous one.
#pragma once

#include <QLineEdit>

namespace fieldsmith::ui {

class TEnterEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TEnterEdit(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace fieldsmith::ui
