#include "viewer/TableViewPage.h"

#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "app/PickerWiring.h"
#include "app/TextCodec.h"
#include "app/WindowRunHost.h"
#include "app/pages/PageLayout.h"
#include "engine/Table.h"
#include "viewer/TableModel.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>
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
    // An edited cell is posted at once; a refused value reaches the error box and the
    // record stays in edit state.
    model_->writer = [this](int row, int column, const QString& text) {
        engine::Table& t = form_.shared().TempTable;
        QString stored = text;
        form_.guarded([&] {
            if (!showsTempTable()) return;
            if (row == model_->pendingRow()) {
                // A new record: inserted on its first value, posted when the row is left.
                if (t.state() != engine::DataSetState::Insert) t.insert();
                t.field(column).setAsString(app::toEngine(text));
                stored = app::fromEngine(t.field(column).asString());
                pendingChanged_ = true;
                return;
            }
            moveTo(row);
            t.edit();
            t.field(column).setAsString(app::toEngine(text));
            t.post();
            stored = app::fromEngine(t.field(column).asString());
            // A changed key moves the record: the rows are read again in the new order.
            if (t.field(column).isIndexField())
                QMetaObject::invokeMethod(this, &TTableViewPage::reload, Qt::QueuedConnection);
        });
        return stored;
    };
    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setModel(model_);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
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
                if (current.isValid() && current.row() != model_->pendingRow()) moveTo(current.row());
            });
    connect(ToolButton9, &QToolButton::clicked, this,
            [this] { form_.guarded([this] { form_.shared().TempTable.edit(); }); });
    connect(ToolButton3, &QToolButton::clicked, this, [this] {
        form_.guarded([this] {
            engine::Table& t = form_.shared().TempTable;
            if (memoField_ >= 0 && showsTempTable() && t.state() != engine::DataSetState::Browse)
                t.field(memoField_).setAsString(app::toEngine(DBRichEdit1->text()));
            t.post();
            const int row = DBGrid1->currentIndex().row();
            reload();
            if (row >= 0 && row < model_->rowCount()) DBGrid1->selectRow(row);
        });
    });

    form.shared().TempTable.setDataChangeHandler(
        [this](engine::Table&) { DSTempTableDataChange(); });
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
        if ((insertKey || appendKey) && showsTempTable() && model_->pendingRow() < 0) {
            const int at = appendKey ? model_->rowCount() : std::max(row, 0);
            model_->addPendingRow(at);
            pendingChanged_ = false;
            DBGrid1->setCurrentIndex(model_->index(at, std::max(0, DBGrid1->currentIndex().column())));
            return true;
        }
        if (key->key() == Qt::Key_Delete && (key->modifiers() & Qt::ControlModifier) &&
            DBGrid1->currentIndex().isValid()) {
            if (DelRecCheckbox->isChecked() ||
                form_.message(run::MessageKind::Confirmation,
                              QStringLiteral("Datensatz löschen?"))) {
                const int row = DBGrid1->currentIndex().row();
                form_.guarded([&] {
                    moveTo(row);
                    form_.shared().TempTable.deleteRecord();
                    reload();
                });
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TTableViewPage::ViewTabAliasChange() {
    try {
        form_.shared().TempTable.close();
    } catch (const std::exception&) {
        // Closing is best effort here.
    }
    model_->clear();
    memoField_ = -1;
    DBRichEdit1->clear();
    DBRichEdit1->setEnabled(false);
}

void TTableViewPage::ViewTabTableExit() {
    memoField_ = -1;
    DBRichEdit1->setEnabled(false);
    engine::Table& t = form_.shared().TempTable;
    try {
        t.close();
        t.setDatabaseName(app::toEngine(ViewTabAlias->boxText()));
        t.setTableName(app::toEngine(ViewTabTable->boxText()));
        t.setIndexFieldNames({});
        openedAlias_ = t.databaseName();
        openedTable_ = t.tableName();
        t.open();
        ShowFirstMemoField();
    } catch (const std::exception&) {
        // A table that cannot be opened leaves the grid empty, without a message.
    }
    reload();
}

// The new row is left: a record with values is posted, an untouched one discarded.
void TTableViewPage::leaveNewRecord() {
    engine::Table& t = form_.shared().TempTable;
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
        posted = true;
    });
    if (!posted) {
        // Refused (a key violation, say): the new record stays, in insert state, to be mended.
        pendingChanged_ = true;
        DBGrid1->setCurrentIndex(model_->index(model_->pendingRow(), 0));
        return;
    }
    reload();
}

void TTableViewPage::reload() {
    try {
        model_->load(form_.shared().TempTable);
    } catch (const std::exception&) {
        model_->clear();
    }
    DSTempTableDataChange();
}

bool TTableViewPage::showsTempTable() const {
    const engine::Table& t = form_.shared().TempTable;
    return t.active() && t.databaseName() == openedAlias_ && t.tableName() == openedTable_;
}

void TTableViewPage::moveTo(int row) {
    engine::Table& t = form_.shared().TempTable;
    if (!showsTempTable()) return;
    form_.guarded([&] {
        t.first();
        if (row > 0) t.moveBy(row);
    });
}

void TTableViewPage::ShowFirstMemoField() {
    engine::Table& t = form_.shared().TempTable;
    memoField_ = -1;
    for (int i = 0; i < t.fieldCount(); ++i) {
        if (engine::isTextBlobType(t.field(i).type())) {
            memoField_ = i;
            break;
        }
    }
    DBRichEdit1->setEnabled(memoField_ >= 0);
}

bool TTableViewPage::HasIndexOnField(const QString& fieldName) {
    engine::Table& t = form_.shared().TempTable;
    t.updateIndexDefs();
    const std::string name = app::toEngine(fieldName);
    for (const auto& def : t.indexDefs())
        if (def.fields == name) return true;
    return false;
}

void TTableViewPage::DBGrid1TitleClick(int column) {
    engine::Table& t = form_.shared().TempTable;
    if (!showsTempTable()) return;
    const QString field = model_->fieldName(column);
    form_.guarded([&] {
        if (!HasIndexOnField(field)) return;
        t.setIndexFieldNames(app::toEngine(field));
        reload();
    });
}

void TTableViewPage::DSTempTableDataChange() {
    engine::Table& t = form_.shared().TempTable;
    if (!t.active()) return;
    try {
        form_.runHost().setStatusText(1, std::to_string(t.recNo()) + " of " +
                                             std::to_string(t.recordCount()));
        if (memoField_ >= 0 && memoField_ < t.fieldCount() && showsTempTable() &&
            t.state() == engine::DataSetState::Browse)
            DBRichEdit1->setText(app::fromEngine(t.field(memoField_).asString()));
    } catch (const std::exception&) {
        // The status line is informative only.
    }
}

} // namespace fieldsmith::viewer
