#include "app/pages/PageLayout.h"

#include "app/PickerBox.h"
#include "ui/EnterEdit.h"

namespace fieldsmith::app {

QLabel* makeLabel(const QString& text, QWidget* parent, const QString& objectName) {
    auto* label = new QLabel(text, parent);
    if (!objectName.isEmpty()) label->setObjectName(objectName);
    return label;
}

QLabel* makeNote(const QString& text, QWidget* parent, const QString& objectName) {
    auto* label = makeLabel(text, parent, objectName);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* makeDirLabel(const QString& objectName, QWidget* parent) {
    auto* label = makeLabel(QStringLiteral("Alias-Verzeichnis"), parent, objectName);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("color: #505050;"));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

TPickerBox* makePicker(const QString& objectName, QWidget* parent, bool pickOnly) {
    return new TPickerBox(objectName, pickOnly, parent);
}

QLineEdit* makeEdit(const QString& objectName, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    return edit;
}

ui::TEnterEdit* makeEnterEdit(const QString& objectName, QWidget* parent) {
    auto* edit = new ui::TEnterEdit(parent);
    edit->setObjectName(objectName);
    return edit;
}

QCheckBox* makeCheck(const QString& objectName, const QString& text, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(objectName);
    return box;
}

QRadioButton* makeRadio(const QString& objectName, const QString& text, QWidget* parent) {
    auto* button = new QRadioButton(text, parent);
    button->setObjectName(objectName);
    return button;
}

QGroupBox* makeGroup(const QString& title, QWidget* parent, QGridLayout** grid) {
    auto* group = new QGroupBox(title, parent);
    *grid = new QGridLayout(group);
    (*grid)->setColumnStretch(1, 1);
    (*grid)->setHorizontalSpacing(8);
    (*grid)->setVerticalSpacing(4);
    return group;
}

int addRow(QGridLayout* grid, QLabel* label, QWidget* input, int span) {
    const int row = grid->rowCount();
    if (label) grid->addWidget(label, row, 0);
    if (input) grid->addWidget(input, row, 1, 1, span);
    if (label && input) label->setBuddy(input);
    return row;
}

void setLabelColor(QLabel* label, const QColor& color) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

} // namespace fieldsmith::app
