#include "ui/EnterEdit.h"

#include <QKeyEvent>

namespace fieldsmith::ui {

TEnterEdit::TEnterEdit(QWidget* parent) : QLineEdit(parent) {}

void TEnterEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Down:
        focusNextPrevChild(true);
        event->accept();
        return;
    case Qt::Key_Up:
        focusNextPrevChild(false);
        event->accept();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

} // namespace fieldsmith::ui
