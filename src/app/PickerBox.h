// The combo box of every alias, table, field and index picker: fills its list when it is
// opened, keeps the list sorted, shows 16 entries and knows whether its text was picked
// from the list (the "selected entry") or typed.
#pragma once

#include <QComboBox>
#include <QStringList>

namespace fieldsmith::app {

class TPickerBox : public QComboBox {
    Q_OBJECT
public:
    //! pickOnly: the box accepts a pick from its list only, no typed text.
    TPickerBox(const QString& objectName, bool pickOnly, QWidget* parent = nullptr);

    //! Replaces the list by these entries, sorted; the selected entry is lost.
    void setEntries(QStringList entries);
    //! Empties the list; the selected entry is lost, the text of an editable box stays.
    void clearEntries();
    //! The entry that the user picked from the list, while the list is the one it was picked
    //! from and the text was not typed over since.
    bool hasSelectedEntry() const { return selected_ >= 0; }
    QString selectedEntry() const;

    QString boxText() const { return currentText(); }
    //! Sets the text; a pick-only box shows the entry of that text, or nothing.
    void setBoxText(const QString& text);

    void showPopup() override;

signals:
    //! The list is about to open: the filling rule runs here.
    void dropDown();
    //! The user changed the text, by typing or by picking an entry (not by code).
    void textChangedByUser(const QString& text);

private:
    void replaceList(const QStringList& entries);

    bool pickOnly_;
    int selected_ = -1;
};

} // namespace fieldsmith::app
