#include "app/PickerWiring.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/TextCodec.h"
#include "app/run/Pickers.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>

namespace fieldsmith::app {

namespace {

// Field and index names are text of the program's code page.
QStringList toList(const std::vector<std::string>& names) {
    QStringList list;
    list.reserve(static_cast<int>(names.size()));
    for (const auto& n : names)
        list << fromEngine(n);
    return list;
}

// Alias and table names are spelled as the configuration file and the file system have them.
QStringList toNameList(const std::vector<std::string>& names) {
    QStringList list;
    list.reserve(static_cast<int>(names.size()));
    for (const auto& n : names)
        list << fromFileName(n);
    return list;
}

} // namespace

PickerWiring::PickerWiring(TFieldsmithForm& form) : QObject(&form), form_(form) {}

void PickerWiring::clearText(QWidget* widget) {
    if (auto* box = qobject_cast<TPickerBox*>(widget)) {
        box->setBoxText(QString());
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setCurrentIndex(-1);
        if (combo->isEditable()) combo->setEditText(QString());
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->clear();
    }
}

QStringList PickerWiring::aliasNames() const {
    return toNameList(form_.session().aliasNames());
}

QStringList PickerWiring::tableNames(const QString& alias) const {
    try {
        return toNameList(form_.session().tableNames(toFileName(alias)));
    } catch (const std::exception&) {
        return {}; // a server alias or a missing directory lists nothing
    }
}

void PickerWiring::aliasBox(TPickerBox* box, const QList<QWidget*>& dependents) {
    connect(box, &TPickerBox::dropDown, this, [this, box, dependents] {
        box->clearEntries();
        for (QWidget* d : dependents)
            clearText(d);
        form_.guarded([&] { box->setEntries(aliasNames()); });
    });
}

void PickerWiring::directoryLabel(TPickerBox* aliasBox, QLabel* label, DirLabelEvent event) {
    label->setText(QStringLiteral("Alias-Verzeichnis"));
    if (event == DirLabelEvent::OnChange) {
        connect(aliasBox, &QComboBox::currentTextChanged, this,
                [this, aliasBox, label] { updateDirectoryLabel(aliasBox, label); });
    } else {
        leavingLabels_.append({aliasBox, label});
        aliasBox->installEventFilter(this);
    }
}

bool PickerWiring::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        for (const auto& [box, label] : leavingLabels_)
            if (box == watched) updateDirectoryLabel(box, label);
    }
    return QObject::eventFilter(watched, event);
}

void PickerWiring::tableBox(TPickerBox* box, TPickerBox* aliasBox,
                            const QList<QWidget*>& dependents) {
    connect(box, &TPickerBox::dropDown, this, [this, box, aliasBox, dependents] {
        box->clearEntries();
        for (QWidget* d : dependents)
            clearText(d);
        if (!aliasBox->hasSelectedEntry()) return;
        box->setEntries(tableNames(aliasBox->selectedEntry()));
    });
}

void PickerWiring::fieldBox(TPickerBox* box, TPickerBox* aliasBox, TPickerBox* tableBox,
                            std::function<bool()> precondition) {
    connect(box, &TPickerBox::dropDown, this, [=, this] {
        if (precondition && !precondition()) return;
        GetFieldNames1(box, tableBox, aliasBox->boxText(), tableBox->boxText());
    });
}

void PickerWiring::GetFieldNames1(TPickerBox* box, TPickerBox* tableBox, const QString& aliasName,
                                  const QString& tableName) {
    box->clearEntries();
    if (!tableBox->hasSelectedEntry()) return;
    form_.guarded([&] {
        box->setEntries(toList(
            run::tableFieldNames(form_.session(), toFileName(aliasName), toFileName(tableName))));
    });
}

void PickerWiring::GetIndexes(engine::Table& table, TPickerBox* box) {
    box->clearEntries();
    box->setEntries(toList(run::indexFieldLists(table)));
}

QString PickerWiring::GetAliasPath(const QString& aliasName) {
    return fromFileName(run::GetAliasPath(form_.session(), toFileName(aliasName)));
}

void PickerWiring::updateDirectoryLabel(TPickerBox* aliasBox, QLabel* label) {
    const QString alias = aliasBox->boxText();
    if (alias.isEmpty()) return;
    try {
        label->setText(GetAliasPath(alias));
    } catch (const std::exception&) {
        // The label keeps its previous text for a name that is not (yet) an alias.
    }
}

} // namespace fieldsmith::app
