#include "viewer/TableViewPage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/TextCodec.h"
#include "app/WindowRunHost.h"
#include "app/pages/PageLayout.h"
#include "engine/EngineError.h"
#include "engine/Table.h"
#include "viewer/TableModel.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace fieldsmith::viewer {

using app::makeLabel;
using app::makePicker;

TTableViewPage::TTableViewPage(app::TFieldsmithForm& form, QWidget* parent)
    : QWidget(parent), form_(form) {
    setObjectName(QStringLiteral("AnsichtTabelle"));
    auto* outer = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    ViewTabAlias = makePicker(QStringLiteral("ViewTabAlias"), this);
    ViewTabTable = makePicker(QStringLiteral("ViewTabTable"), this);
    top->addWidget(makeLabel(QStringLiteral("DB-Alias: "), this));
    top->addWidget(ViewTabAlias, 1);
    top->addWidget(makeLabel(QStringLiteral("Table: "), this));
    top->addWidget(ViewTabTable, 1);
    outer->addLayout(top);

    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("ViewToolBar"));
    auto* DBNavigator1 = new QWidget(bar);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    auto* nav = new QHBoxLayout(DBNavigator1);
    nav->setContentsMargins(0, 0, 0, 0);
    nav->setSpacing(0);
    auto navButton = [&](const char* name, QStyle::StandardPixmap icon, auto move) {
        auto* b = new QToolButton(DBNavigator1);
        b->setObjectName(QString::fromLatin1(name));
        b->setIcon(style()->standardIcon(icon));
        nav->addWidget(b);
        connect(b, &QToolButton::clicked, this, [this, move] {
            const int rows = model_->rowCount();
            if (rows == 0) return;
            const int current =
                DBGrid1->currentIndex().isValid() ? DBGrid1->currentIndex().row() : 0;
            const int row = std::clamp(move(current, rows), 0, rows - 1);
            DBGrid1->setCurrentIndex(
                model_->index(row, std::max(0, DBGrid1->currentIndex().column())));
        });
    };
    navButton("NavFirst", QStyle::SP_MediaSkipBackward, [](int, int) { return 0; });
    navButton("NavPrior", QStyle::SP_MediaSeekBackward, [](int r, int) { return r - 1; });
    navButton("NavNext", QStyle::SP_MediaSeekForward, [](int r, int) { return r + 1; });
    navButton("NavLast", QStyle::SP_MediaSkipForward, [](int, int n) { return n - 1; });
    bar->addWidget(DBNavigator1);
    bar->addSeparator();
    auto* ToolButton9 = new QToolButton(bar);
    ToolButton9->setObjectName(QStringLiteral("ToolButton9"));
    ToolButton9->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    ToolButton9->setToolTip(QStringLiteral("Edit"));
    auto* ToolButton3 = new QToolButton(bar);
    ToolButton3->setObjectName(QStringLiteral("ToolButton3"));
    ToolButton3->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    ToolButton3->setToolTip(QStringLiteral("Post"));
    bar->addWidget(ToolButton9);
    bar->addWidget(ToolButton3);
    bar->addSeparator();
    DBRichEdit1 = new QLineEdit(bar);
    DBRichEdit1->setObjectName(QStringLiteral("DBRichEdit1"));
    DBRichEdit1->setMinimumWidth(260);
    DBRichEdit1->setEnabled(false);
    bar->addWidget(DBRichEdit1);
    bar->addSeparator();
    DelRecCheckbox = new QCheckBox(QStringLiteral("delete without confirmation"), bar);
    DelRecCheckbox->setObjectName(QStringLiteral("DelRecCheckbox"));
    bar->addWidget(DelRecCheckbox);
    outer->addWidget(bar);

    model_ = new TableModel(this);
    model_->writer = [this](const std::string& identity, int column, const QString& text) {
        return writeValue(identity, column, text);
    };
    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setModel(model_);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
    // Rows of one height: the grid then handles a million of them without measuring each.
    DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1->verticalHeader()->setDefaultSectionSize(20);
    DBGrid1->horizontalHeader()->setSectionsClickable(true);
    DBGrid1->installEventFilter(this);
    outer->addWidget(DBGrid1, 1);

    app::PickerWiring& p = form.pickers();
    p.aliasBox(ViewTabAlias, {ViewTabTable});
    p.tableBox(ViewTabTable, ViewTabAlias, {});
    connect(ViewTabAlias, &QComboBox::currentTextChanged, this,
            &TTableViewPage::ViewTabAliasChange);
    ViewTabTable->installEventFilter(this);
    connect(DBGrid1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &TTableViewPage::DBGrid1TitleClick);
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex& previous) {
                if (previous.isValid() && previous.row() == model_->pendingRow()) {
                    QMetaObject::invokeMethod(this, &TTableViewPage::leaveNewRecord, Qt::QueuedConnection);
                    return;
                }
                if (current.isValid() && current.row() != model_->pendingRow()) rowChanged(current.row());
            });
    connect(DBRichEdit1, &QLineEdit::textEdited, this, [this] { memoDirty_ = true; });
    connect(ToolButton9, &QToolButton::clicked, this, [this] {
        form_.guarded([this] {
            requireIdleForEditing();
            if (gotoRow(DBGrid1->currentIndex().row())) temp().edit();
        });
    });
    connect(ToolButton3, &QToolButton::clicked, this, [this] {
        if (!commitMemo()) return;
        form_.guarded([this] {
            engine::Table& t = temp();
            if (!t.active() || t.state() == engine::DataSetState::Browse) return;
            requireIdleForEditing();
            t.post();
            t.flush();
        });
        relayoutNow();
    });

    model_->setTable(&form.shared().TempTable);
    form.shared().TempTable.setDataChangeHandler(
        [this](engine::Table&) { DSTempTableDataChange(); });
    form.shared().TempTable.setEventHandler(
        [this](engine::Table&, engine::TableEvent e) { onTableEvent(e); });
}

engine::Table& TTableViewPage::temp() {
    return form_.shared().TempTable;
}

bool TTableViewPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ViewTabTable && event->type() == QEvent::FocusOut) {
        ViewTabTableExit();
    } else if (watched == DBGrid1 && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Insert puts a new record before the current one; Down on the last row appends.
        const int row = DBGrid1->currentIndex().row();
        const bool insertKey = key->key() == Qt::Key_Insert && key->modifiers() == Qt::NoModifier;
        const bool appendKey = key->key() == Qt::Key_Down && row == model_->rowCount() - 1 &&
                               model_->pendingRow() < 0;
        if ((insertKey || appendKey) && temp().active() && model_->pendingRow() < 0 &&
            model_->columnCount() > 0 && !form_.running()) {
            const int at = appendKey ? model_->rowCount() : std::max(row, 0);
            model_->addPendingRow(at);
            pendingChanged_ = false;
            DBGrid1->setCurrentIndex(model_->index(at, std::max(0, DBGrid1->currentIndex().column())));
            return true;
        }
        if (key->key() == Qt::Key_Delete && (key->modifiers() & Qt::ControlModifier) &&
            DBGrid1->currentIndex().isValid()) {
            const int current = DBGrid1->currentIndex().row();
            if (current == model_->pendingRow()) return true;
            if (DelRecCheckbox->isChecked() ||
                form_.message(run::MessageKind::Confirmation,
                              QStringLiteral("Datensatz löschen?"))) {
                form_.guarded([&] {
                    requireIdleForEditing();
                    if (!gotoRow(current)) return;
                    temp().deleteRecord();
                    temp().flush();
                });
                relayoutNow();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TTableViewPage::hideEvent(QHideEvent* event) {
    commitPending();
    QWidget::hideEvent(event);
}

// The table behind the grid changed: opened, closed, reordered, or records written by
// this page or by a run of another page.
void TTableViewPage::onTableEvent(engine::TableEvent e) {
    switch (e) {
    case engine::TableEvent::AboutToClose:
        commitPending();
        break;
    case engine::TableEvent::Closed:
    case engine::TableEvent::Opened:
    case engine::TableEvent::Reordered:
        if (e == engine::TableEvent::Opened) ShowFirstMemoField();
        if (e == engine::TableEvent::Closed) {
            memoField_ = -1;
            memoDirty_ = false;
            memoIdentity_.clear();
            DBRichEdit1->clear();
            DBRichEdit1->setEnabled(false);
        }
        model_->invalidate();
        relayoutNow();
        break;
    case engine::TableEvent::RecordsChanged:
        // A run posts a record at a time: the grid catches up a few times a second.
        model_->invalidate();
        scheduleRelayout();
        break;
    }
}

void TTableViewPage::scheduleRelayout() {
    if (relayoutScheduled_) return;
    relayoutScheduled_ = true;
    QTimer::singleShot(100, this, [this] {
        relayoutScheduled_ = false;
        model_->relayout();
    });
}

void TTableViewPage::relayoutNow() {
    const int column = std::max(0, DBGrid1->currentIndex().column());
    model_->invalidate();
    model_->relayout();
    // The current row follows the table's current record, found by its identity.
    engine::Table& t = temp();
    if (!t.active() || form_.running()) return;
    try {
        const std::int64_t rec = t.recNo();
        if (rec > 0 && rec <= model_->rowCount()) {
            QSignalBlocker block(DBGrid1->selectionModel());
            DBGrid1->setCurrentIndex(model_->index(static_cast<int>(rec - 1), column));
        }
    } catch (const std::exception&) {
    }
}

void TTableViewPage::ViewTabAliasChange() {
    commitPending();
    try {
        temp().close();
    } catch (const std::exception&) {
        // Closing is best effort here.
    }
    model_->invalidate();
    model_->relayout();
}

void TTableViewPage::ViewTabTableExit() {
    commitPending();
    engine::Table& t = temp();
    try {
        t.close();
        t.setDatabaseName(app::toFileName(ViewTabAlias->boxText()));
        t.setTableName(app::toFileName(ViewTabTable->boxText()));
        t.setIndexFieldNames({});
        t.open();
    } catch (const std::exception&) {
        // A table that cannot be opened leaves the grid empty, without a message.
    }
    model_->invalidate();
    model_->relayout();
    DSTempTableDataChange();
}

void TTableViewPage::requireIdleForEditing() {
    if (form_.running())
        throw engine::EngineError(engine::ErrorKind::Database,
                                  "A run is using the table; change it when the run has ended.");
}

bool TTableViewPage::gotoRow(int row) {
    engine::Table& t = temp();
    const std::string identity = model_->identityAt(row);
    if (!t.active() || identity.empty()) return false;
    if (t.identity() == identity) return true;
    if (t.gotoIdentity(identity)) return true;
    relayoutNow();
    throw engine::EngineError(engine::ErrorKind::NoRecord,
                              "The record this row showed no longer exists; the grid shows the "
                              "table as it is now.");
}

QString TTableViewPage::writeValue(const std::string& identity, int column, const QString& text) {
    engine::Table& t = temp();
    QString stored;
    bool written = false;
    form_.guarded([&] {
        requireIdleForEditing();
        if (identity.empty()) {
            // A new record: inserted on its first value, posted when its row is left.
            if (t.state() != engine::DataSetState::Insert) t.insert();
            t.field(column).setAsString(app::toEngine(text));
            stored = app::fromEngine(t.field(column).asString());
            pendingChanged_ = true;
            written = true;
            return;
        }
        if (!t.gotoIdentity(identity))
            throw engine::EngineError(engine::ErrorKind::NoRecord,
                                      "The record this row showed no longer exists; the change "
                                      "was not written.");
        t.edit();
        t.field(column).setAsString(app::toEngine(text));
        t.post();
        t.flush();
        stored = app::fromEngine(t.field(column).asString());
        written = true;
    });
    if (!written) {
        // Refused: a record in edit state stays so, for mending; the cell shows the table.
        relayoutNow();
    }
    return stored;
}

// The new row is left: a record with values is posted, an untouched one discarded.
void TTableViewPage::leaveNewRecord() {
    engine::Table& t = temp();
    if (model_->pendingRow() < 0) return;
    const bool changed = pendingChanged_ && t.state() == engine::DataSetState::Insert;
    pendingChanged_ = false;
    if (!changed) {
        form_.guarded([&] { t.cancel(); });
        model_->dropPendingRow();
        return;
    }
    bool posted = false;
    form_.guarded([&] {
        t.post();
        t.flush();
        posted = true;
    });
    if (!posted) {
        // Refused (a key violation, say): the new record stays, in insert state, to be mended.
        pendingChanged_ = true;
        DBGrid1->setCurrentIndex(model_->index(model_->pendingRow(), 0));
        return;
    }
    model_->dropPendingRow();
    relayoutNow();
}

bool TTableViewPage::commitPending() {
    if (committing_) return true;
    committing_ = true;
    bool ok = commitMemo();
    engine::Table& t = temp();
    if (model_->pendingRow() >= 0 && t.active() && t.state() == engine::DataSetState::Insert) {
        if (pendingChanged_) {
            form_.guarded([&] {
                t.post();
                t.flush();
            });
        } else {
            t.cancel();
        }
        pendingChanged_ = false;
        model_->dropPendingRow();
    }
    committing_ = false;
    return ok;
}

// What the user typed into the memo box goes to the record it was typed for.
bool TTableViewPage::commitMemo() {
    if (!memoDirty_) return true;
    engine::Table& t = temp();
    bool stored = false;
    form_.guarded([&] {
        requireIdleForEditing();
        if (!t.active() || memoField_ < 0 || !t.gotoIdentity(memoIdentity_))
            throw engine::EngineError(engine::ErrorKind::NoRecord,
                                      "The record the memo text was typed for no longer exists; "
                                      "the text was not stored.");
        t.edit();
        t.field(memoField_).setAsString(app::toEngine(DBRichEdit1->text()));
        t.post();
        t.flush();
        stored = true;
    });
    // Refused: the text stays in the box, still meant for its record.
    if (stored) memoDirty_ = false;
    return stored;
}

void TTableViewPage::rowChanged(int row) {
    if (!commitMemo()) return;
    if (form_.running()) return; // the run's cursor is not moved by the grid
    form_.guarded([&] { gotoRow(row); });
}

void TTableViewPage::ShowFirstMemoField() {
    engine::Table& t = temp();
    memoField_ = -1;
    if (t.active())
        for (int i = 0; i < t.fieldCount(); ++i) {
            if (engine::isTextBlobType(t.field(i).type())) {
                memoField_ = i;
                break;
            }
        }
    DBRichEdit1->setEnabled(memoField_ >= 0);
    if (memoField_ < 0) DBRichEdit1->clear();
}

bool TTableViewPage::HasIndexOnField(const QString& fieldName) {
    engine::Table& t = temp();
    t.updateIndexDefs();
    const std::string name = app::toEngine(fieldName);
    for (const auto& def : t.indexDefs())
        if (def.fields == name) return true;
    return false;
}

void TTableViewPage::DBGrid1TitleClick(int column) {
    engine::Table& t = temp();
    if (!t.active() || !commitPending()) return;
    const QString field = model_->fieldName(column);
    form_.guarded([&] {
        if (!HasIndexOnField(field)) return;
        t.setIndexFieldNames(app::toEngine(field));
    });
    relayoutNow();
}

void TTableViewPage::DSTempTableDataChange() {
    engine::Table& t = temp();
    if (!t.active()) return;
    try {
        form_.runHost().setStatusText(1, std::to_string(t.recNo()) + " of " +
                                             std::to_string(t.recordCount()));
        // The memo box follows the current record unless it holds text not yet stored.
        if (memoField_ >= 0 && memoField_ < t.fieldCount() && !memoDirty_ && !form_.running() &&
            t.state() == engine::DataSetState::Browse) {
            DBRichEdit1->setText(app::fromEngine(t.field(memoField_).asString()));
            memoIdentity_ = t.identity();
        }
    } catch (const std::exception&) {
        // The status line is informative only.
    }
}

} // namespace fieldsmith::viewer
