// Small helpers that build the pages' controls with their component names, so that every
// page is laid out alike: group boxes holding label/input grids.
#pragma once

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace fieldsmith::ui {
class TEnterEdit;
}

namespace fieldsmith::app {

class TPickerBox;

QLabel* makeLabel(const QString& text, QWidget* parent, const QString& objectName = {});
//! A fixed text of the page: wraps, reads as a note.
QLabel* makeNote(const QString& text, QWidget* parent, const QString& objectName = {});
//! The directory label beside an alias box.
QLabel* makeDirLabel(const QString& objectName, QWidget* parent);
TPickerBox* makePicker(const QString& objectName, QWidget* parent, bool pickOnly = false);
QLineEdit* makeEdit(const QString& objectName, QWidget* parent);
ui::TEnterEdit* makeEnterEdit(const QString& objectName, QWidget* parent);
QCheckBox* makeCheck(const QString& objectName, const QString& text, QWidget* parent);
QRadioButton* makeRadio(const QString& objectName, const QString& text, QWidget* parent);
//! A group box with a grid inside.
QGroupBox* makeGroup(const QString& title, QWidget* parent, QGridLayout** grid);
//! Puts a label and an input into the next row of a grid; returns the row.
int addRow(QGridLayout* grid, QLabel* label, QWidget* input, int span = 1);
//! Text colour of a label.
void setLabelColor(QLabel* label, const QColor& color);

} // namespace fieldsmith::app
