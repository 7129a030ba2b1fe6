#include "app/PickerBox.h"

#include <QLineEdit>
#include <QSignalBlocker>
#include <algorithm>

namespace fieldsmith::app {

TPickerBox::TPickerBox(const QString& objectName, bool pickOnly, QWidget* parent)
    : QComboBox(parent), pickOnly_(pickOnly) {
    setObjectName(objectName);
    setEditable(!pickOnly);
    setMaxVisibleItems(16);
    setInsertPolicy(QComboBox::NoInsert);
    setMinimumContentsLength(14);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    if (!pickOnly) {
        setCompleter(nullptr); // typed text stays typed; no silent completion to an entry
        connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
            selected_ = -1;
            emit textChangedByUser(text);
        });
    }
    connect(this, &QComboBox::activated, this, [this](int index) {
        selected_ = index;
        emit textChangedByUser(itemText(index));
    });
}

void TPickerBox::setEntries(QStringList entries) {
    std::sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    replaceList(entries);
}

void TPickerBox::clearEntries() {
    replaceList({});
}

void TPickerBox::replaceList(const QStringList& entries) {
    // Filling must not pass through a transient text (QComboBox makes the first entry
    // current when the list was empty), or the on-change handlers would see it.
    const QString before = currentText();
    {
        const QSignalBlocker blocker(this);
        selected_ = -1;
        clear();
        addItems(entries);
        setCurrentIndex(-1);
        if (!pickOnly_) setEditText(before);
    }
    if (currentText() != before) emit currentTextChanged(currentText());
}

QString TPickerBox::selectedEntry() const {
    return selected_ >= 0 ? itemText(selected_) : QString();
}

void TPickerBox::setBoxText(const QString& text) {
    if (pickOnly_) {
        setCurrentIndex(findText(text, Qt::MatchExactly));
    } else {
        setEditText(text);
    }
}

void TPickerBox::showPopup() {
    emit dropDown();
    QComboBox::showPopup();
}

} // namespace fieldsmith::app
