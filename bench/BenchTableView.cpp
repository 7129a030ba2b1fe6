// The Table View over a large table: how long opening takes, jumping to the last record,
// and reading every row as a scroll through the whole grid does, and the peak memory of
// the process against the table's size on disk.
#include "BenchSupport.h"

#include "engine/Session.h"
#include "engine/Table.h"
#include "viewer/TableModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

#include <cstring>

using namespace fieldsmith;
using bench::Clock;
using bench::Result;

namespace {

void fill(const bench::fs::path& dir, long records) {
    engine::Session session;
    session.addStandardAlias("WORK", dir);
    engine::Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("PEOPLE");
    t.fieldDefs() = {{"ID", engine::FieldType::ftInteger, 0, true},
                     {"NAME", engine::FieldType::ftString, 30, false},
                     {"CITY", engine::FieldType::ftString, 20, false},
                     {"AMOUNT", engine::FieldType::ftFloat, 0, false}};
    t.indexDefs() = {{"", "ID", engine::ixPrimary}};
    t.createTable();
    t.open();
    for (long i = 1; i <= records; ++i) {
        t.append();
        t.field(0).setAsInteger(i);
        t.field(1).setAsString(bench::nameOf(i));
        t.field(2).setAsString(bench::cityOf(i));
        t.field(3).setAsString(std::to_string(bench::amountOf(i)));
        t.post();
    }
}

} // namespace

int main(int argc, char** argv) {
    long records = 1000000;
    bench::fs::path keep;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc) keep = argv[++i];
        else records = std::atol(argv[i]);
    }
    const bench::fs::path dir = bench::workDirectory("bench-view", keep);
    bench::inChild([&] {
        fill(dir, records);
        return Result{};
    });
    const double tableMiB = bench::mib(bench::familySize(dir, "PEOPLE"));

    // The viewer's child prints its times; the parent adds its peak memory.
    const Result r = bench::inChild([&] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        int qargc = 1;
        char name[] = "bench_tableview";
        char* qargv[] = {name, nullptr};
        QApplication app(qargc, qargv);
        engine::Session session;
        session.addStandardAlias("WORK", dir);
        engine::Table table(session);
        viewer::TableModel model;
        QTableView view;
        view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view.verticalHeader()->setDefaultSectionSize(20);
        view.resize(900, 600);
        view.setModel(&model);
        view.show();

        auto start = Clock::now();
        table.setDatabaseName("WORK");
        table.setTableName("PEOPLE");
        table.open();
        model.setTable(&table);
        QApplication::processEvents();
        double open = bench::secondsSince(start);

        start = Clock::now();
        view.scrollToBottom();
        view.setCurrentIndex(model.index(model.rowCount() - 1, 0));
        QApplication::processEvents();
        const QString last = model.index(model.rowCount() - 1, 0).data().toString();
        double toLast = bench::secondsSince(start);

        // Scrolling through the grid reads every row once; the view itself repaints a page
        // at a time, which the offscreen platform makes cheap, so the rows are asked for
        // directly.
        start = Clock::now();
        long cells = 0;
        for (int row = 0; row < model.rowCount(); ++row)
            for (int c = 0; c < model.columnCount(); ++c)
                cells += model.index(row, c).data().toString().isEmpty() ? 0 : 1;
        for (int page = 0; page < 50; ++page) {
            view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() * page / 50);
            QApplication::processEvents();
        }
        double scroll = bench::secondsSince(start);
        if (last != QString::number(records)) std::fprintf(stderr, "last row reads %s\n", qPrintable(last));
        Result result;
        result.seconds = open;
        result.count = cells;
        std::printf("open %.3fs, jump to last %.3fs, read every row %.2fs (%ld cells)\n", open,
                    toLast, scroll, cells);
        std::fflush(stdout);
        return result;
    });
    std::printf("table %.1f MB on disk, peak resident %.1f MB (%.2fx)\n", tableMiB,
                r.peakKiB / 1024.0, r.peakKiB / 1024.0 / tableMiB);
    if (keep.empty()) bench::fs::remove_all(dir);
    return 0;
}
