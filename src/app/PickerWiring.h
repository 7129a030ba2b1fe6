// The filling rules of the alias, table, field and index boxes, and the directory labels
// beside the alias boxes.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class QLabel;
class QWidget;

namespace fieldsmith::engine {
class Table;
}

namespace fieldsmith::app {

class TFieldsmithForm;
class TPickerBox;

class PickerWiring : public QObject {
    Q_OBJECT
public:
    enum class DirLabelEvent { OnLeaving, OnChange };

    explicit PickerWiring(TFieldsmithForm& form);

    //! Alias box: on opening, empty the list, empty the dependents' texts, list all aliases.
    void aliasBox(TPickerBox* box, const QList<QWidget*>& dependents);
    //! The directory label that follows an alias box, on leaving it or on every change.
    void directoryLabel(TPickerBox* aliasBox, QLabel* label, DirLabelEvent event);
    //! Table box: on opening, empty the list and the dependents' texts; then, when the alias
    //! box has a selected entry, list that alias's tables.
    void tableBox(TPickerBox* box, TPickerBox* aliasBox, const QList<QWidget*>& dependents);
    //! Field box: on opening, GetFieldNames1 with the alias and table boxes' texts. With a
    //! precondition, opening does nothing at all while it is not met.
    void fieldBox(TPickerBox* box, TPickerBox* aliasBox, TPickerBox* tableBox,
                  std::function<bool()> precondition = {});

    //! Fills a field box with the fields of the table, when the table box has a selected
    //! entry; an engine error reaches the application's error box, the list stays empty.
    void GetFieldNames1(TPickerBox* box, TPickerBox* tableBox, const QString& aliasName,
                        const QString& tableName);
    //! Fills a box with the index field lists of an open table.
    void GetIndexes(engine::Table& table, TPickerBox* box);
    //! Where an alias points (directory or server name); an unknown alias is an error.
    QString GetAliasPath(const QString& aliasName);
    //! Sets the label to the alias box's directory; does nothing for an empty text and
    //! swallows every error.
    void updateDirectoryLabel(TPickerBox* aliasBox, QLabel* label);

    //! Empties the text of an edit or a box.
    static void clearText(QWidget* widget);
    //! All alias names of the session.
    QStringList aliasNames() const;
    //! The tables of an alias, as the table boxes list them; empty on error.
    QStringList tableNames(const QString& alias) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFieldsmithForm& form_;
    QList<QPair<TPickerBox*, QLabel*>> leavingLabels_;
};

} // namespace fieldsmith::app
