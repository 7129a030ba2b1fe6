// bench_ops: the field operations on a 1,000,000-record keyed Paradox table, run in process
// through their Qt-free functions with the test host and through the real fieldsmith-batch
// executable, each against SQLite doing the equivalent statements on the same data.
//
// Usage: bench_ops [records] [--batch PATH-TO-fieldsmith-batch] [--keep DIR] [--only STEP]

#include "BenchSupport.h"

#include "app/run/Operations.h"
#include "app/run/TestHost.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "ops/FieldOperations.h"
#include "tables/Preview.h"

#ifdef FIELDSMITH_BENCH_WINDOW
#include "app/DialogService.h"
#include "app/FieldsmithForm.h"

#include <QApplication>
#include <QTabWidget>
#endif

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <vector>

namespace {

using namespace fieldsmith;
using namespace bench;
using engine::FieldType;

//! CODE is empty in one record in ten (half of them NULL, half '' in SQLite).
std::string codeOf(long i) {
    return i % 10 == 3 ? std::string() : "C" + std::to_string(i % 1000);
}
//! The Copy Field source: 100,000 records, one for every tenth key of the target.
long sourceKey(long j, long records) {
    return (j * 10 - 4) % records + 1;
}
std::string sourceValue(long j) {
    return "B" + std::to_string(j);
}

// ------------------------------------------------------------------ the data

void fillParadox(const fs::path& dir, long records, long sources) {
    engine::Session session;
    session.addStandardAlias("BENCH", dir);
    engine::Table t(session);
    t.setDatabaseName("BENCH");
    t.setTableName("OPS");
    t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true}, {"NAME", FieldType::ftString, 30},
                     {"CITY", FieldType::ftString, 20},     {"AMOUNT", FieldType::ftFloat, 0},
                     {"CODE", FieldType::ftString, 10},     {"BONUS", FieldType::ftString, 10}};
    t.indexDefs() = {{"", "ID", engine::ixPrimary | engine::ixUnique}};
    t.createTable();
    t.open();
    t.disableControls();
    for (long i = 1; i <= records; ++i) {
        t.append();
        t.field(0).setAsInteger(i);
        t.field(1).setAsString(nameOf(i));
        t.field(2).setAsString(cityOf(i));
        t.field(3).setValue(engine::Value::real(amountOf(i)));
        t.field(4).setAsString(codeOf(i));
        t.post();
    }
    t.close();
    engine::Table s(session);
    s.setDatabaseName("BENCH");
    s.setTableName("SRC");
    s.fieldDefs() = {{"K", FieldType::ftInteger, 0}, {"VAL", FieldType::ftString, 10}};
    s.createTable();
    s.open();
    for (long j = 1; j <= sources; ++j) {
        s.append();
        s.field(0).setAsInteger(sourceKey(j, records));
        s.field(1).setAsString(sourceValue(j));
        s.post();
    }
}

void fillSqlite(const fs::path& file, long records, long sources) {
    sqlite3* db = nullptr;
    check(sqlite3_open(file.c_str(), &db), db, "open");
    exec(db, "CREATE TABLE ops(id INTEGER PRIMARY KEY, name TEXT, city TEXT, amount REAL, "
             "code TEXT, bonus TEXT)");
    exec(db, "CREATE TABLE src(k INTEGER, val TEXT)");
    exec(db, "BEGIN");
    sqlite3_stmt* ins = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO ops VALUES (?, ?, ?, ?, ?, NULL)", -1, &ins, nullptr),
          db, "prepare");
    for (long i = 1; i <= records; ++i) {
        const std::string name = nameOf(i), code = codeOf(i);
        sqlite3_bind_int64(ins, 1, i);
        sqlite3_bind_text(ins, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 3, cityOf(i), -1, SQLITE_STATIC);
        sqlite3_bind_double(ins, 4, amountOf(i));
        if (code.empty() && i % 20 == 13)
            sqlite3_bind_null(ins, 5);
        else
            sqlite3_bind_text(ins, 5, code.c_str(), -1, SQLITE_TRANSIENT);
        check(sqlite3_step(ins), db, "insert");
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    check(sqlite3_prepare_v2(db, "INSERT INTO src VALUES (?, ?)", -1, &ins, nullptr), db,
          "prepare");
    for (long j = 1; j <= sources; ++j) {
        const std::string val = sourceValue(j);
        sqlite3_bind_int64(ins, 1, sourceKey(j, records));
        sqlite3_bind_text(ins, 2, val.c_str(), -1, SQLITE_TRANSIENT);
        check(sqlite3_step(ins), db, "insert");
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    exec(db, "COMMIT");
    sqlite3_close(db);
}

// ------------------------------------------------------------------ the operations

struct Step {
    const char* title;
    const char* page; //!< for fieldsmith-batch
    void (*operation)(run::RunContext&);
    std::vector<std::pair<std::string, std::string>> controls;
    const char* sql;
};

std::vector<Step> steps() {
    return {
        {"Change Field (CITY = 'Hamburg', 10%)",
         "Seite2",
         ops::ExecuteFeldReplaceComplete,
         {{"Change1Alias", "BENCH"},
          {"Change1Table", "OPS"},
          {"Change1Field", "CITY"},
          {"vonEdit2", "Hamburg"},
          {"zuEdit2", "Hamborg"}},
         "UPDATE ops SET city = 'Hamborg' WHERE city = 'Hamburg'"},
        {"Change Field partially (NAME '12' -> '#')",
         "Seite3",
         ops::SuchenErsetzenSubStrings,
         {{"Change2Alias", "BENCH"},
          {"Change2Table", "OPS"},
          {"Change2Field", "NAME"},
          {"StringChange", "1"},
          {"vonEdit", "12"},
          {"zuEdit", "#"}},
         "UPDATE ops SET name = substr(name, 1, instr(name, '12') - 1) || '#' || "
         "substr(name, instr(name, '12') + 2) WHERE instr(name, '12') > 0"},
        {"Copy Field (100,000 keys into BONUS)",
         "Seite1",
         ops::executeMoveFelder,
         {{"AliasBoxS1", "BENCH"},
          {"TableBoxS1", "SRC"},
          {"IndexFeld1Box", "K"},
          {"Feld2Box", "VAL"},
          {"AliasBox2", "BENCH"},
          {"TabellenBox2", "OPS"},
          {"IndexFeld2Box", "ID"},
          {"ZielFeldBox", "BONUS"}},
         "UPDATE ops SET bonus = src.val FROM src WHERE ops.id = src.k"},
        {"Delete records (CODE empty, 10%)",
         "DelPage",
         ops::executeDeleteRecs,
         {{"AliasDel", "BENCH"}, {"TableDel", "OPS"}, {"DelOpt2", "1"}, {"DelFeldBox", "CODE"}},
         "DELETE FROM ops WHERE code IS NULL OR code = ''"},
    };
}

//! Fills the page's inputs struct from the Control=value pairs, as batch mode does.
void setInputs(run::PageInputs& inputs, const Step& s) {
    auto get = [&](const char* name) -> std::string {
        for (const auto& [k, v] : s.controls)
            if (k == name) return v;
        return {};
    };
    if (std::strcmp(s.page, "Seite1") == 0) {
        auto& in = inputs.Seite1;
        in = {};
        in.AliasBoxS1 = get("AliasBoxS1"), in.TableBoxS1 = get("TableBoxS1");
        in.IndexFeld1Box = get("IndexFeld1Box"), in.Feld2Box = get("Feld2Box");
        in.AliasBox2 = get("AliasBox2"), in.TabellenBox2 = get("TabellenBox2");
        in.IndexFeld2Box = get("IndexFeld2Box"), in.ZielFeldBox = get("ZielFeldBox");
    } else if (std::strcmp(s.page, "Seite2") == 0) {
        auto& in = inputs.Seite2;
        in = {};
        in.Change1Alias = get("Change1Alias"), in.Change1Table = get("Change1Table");
        in.Change1Field = get("Change1Field"), in.vonEdit2 = get("vonEdit2");
        in.zuEdit2 = get("zuEdit2");
    } else if (std::strcmp(s.page, "Seite3") == 0) {
        auto& in = inputs.Seite3;
        in = {};
        in.Change2Alias = get("Change2Alias"), in.Change2Table = get("Change2Table");
        in.Change2Field = get("Change2Field"), in.vonEdit = get("vonEdit");
        in.zuEdit = get("zuEdit");
    } else {
        auto& in = inputs.DelPage;
        in = {};
        in.AliasDel = get("AliasDel"), in.TableDel = get("TableDel");
        in.DelOpt1 = false, in.DelOpt2 = true, in.DelFeldBox = get("DelFeldBox");
    }
}

//! What a step works with in process: the alias BENCH on dir, a host that answers Yes.
struct InProcess {
    InProcess(const fs::path& dir, const Step& s) {
        session.addStandardAlias("BENCH", dir);
        host.defaultAnswer = true;
        setInputs(inputs, s);
    }
    engine::Session session;
    run::TestHost host;
    run::PageInputs inputs;
    run::SharedState shared{session};
    run::RunContext ctx{host, session, inputs, shared};
};

Result runInProcess(const fs::path& dir, const Step& s) {
    InProcess w(dir, s);
    auto& [session, host, inputs, shared, ctx] = w;
    auto countRecords = [&] {
        engine::Table t(session);
        t.setDatabaseName("BENCH");
        t.setTableName("OPS");
        t.open();
        return static_cast<long>(t.recordCount());
    };
    const bool deletes = std::strcmp(s.page, "DelPage") == 0;
    const long before = deletes ? countRecords() : 0;
    Result r;
    const auto start = Clock::now();
    s.operation(ctx);
    shared.TempTable.close();
    r.seconds = secondsSince(start);
    if (!host.textsOf(run::MessageKind::Error).empty()) {
        std::fprintf(stderr, "%s: %s\n", s.title, host.textsOf(run::MessageKind::Error)[0].c_str());
        std::exit(1);
    }
    // "N Records changed!" where the operation counts changes.
    r.count = deletes ? before - countRecords() : std::atol(host.panels[2].c_str());
    return r;
}

//! The step's preview in process: the same walk on copies of the tables, nothing written.
//! count: the changes it found.
Result previewInProcess(const fs::path& dir, const Step& s) {
    InProcess w(dir, s);
    Result r;
    const auto start = Clock::now();
    const tables::PreviewResult result = tables::previewRun(w.ctx, s.operation);
    r.seconds = secondsSince(start);
    if (result.errors > 0) {
        std::fprintf(stderr, "%s: %s\n", s.title, w.host.textsOf(run::MessageKind::Error)[0].c_str());
        std::exit(1);
    }
    for (const auto& c : result.counts) r.count += static_cast<long>(c.changed + c.inserted + c.deleted);
    return r;
}

#ifdef FIELDSMITH_BENCH_WINDOW
//! The same step through the window (offscreen): the page shown, its inputs set, Run pressed;
//! questions answered Yes by scripted dialogs. Runs in a child process of its own.
Result runInWindow(const fs::path& dir, const Step& s) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "bench_ops";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    engine::Session session;
    session.addStandardAlias("BENCH", dir);
    app::TFieldsmithForm form(session, {});
    ops::registerOperations(form.operationTable());
    auto dialogs = std::make_unique<app::ScriptedDialogs>();
    auto* scripted = dialogs.get();
    form.setDialogService(std::move(dialogs));
    auto* pages = form.findChild<QTabWidget*>("PageControl1");
    pages->setCurrentWidget(form.findChild<QWidget*>(s.page));
    setInputs(form.inputs(), s);
    Result r;
    const auto start = Clock::now();
    form.RunBtnClick();
    form.shared().TempTable.close();
    r.seconds = secondsSince(start);
    if (!scripted->textsOf(run::MessageKind::Error).isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", s.title,
                     scripted->textsOf(run::MessageKind::Error).front().toStdString().c_str());
        std::exit(1);
    }
    return r;
}
#endif

Result runSqlite(const fs::path& file, const Step& s) {
    sqlite3* db = nullptr;
    Result r;
    const auto start = Clock::now();
    check(sqlite3_open(file.c_str(), &db), db, "open");
    exec(db, s.sql);
    r.count = sqlite3_changes(db);
    sqlite3_close(db);
    r.seconds = secondsSince(start);
    return r;
}

//! Runs `fieldsmith-batch run PAGE Control=value ... --yes` with FIELDSMITH_HOME=home;
//! its output goes to log. Returns the time and the process's peak RSS.
Result runBatch(const fs::path& exe, const fs::path& home, const fs::path& log, const Step& s) {
    std::vector<std::string> args = {exe.string(), "run", s.page};
    for (const auto& [k, v] : s.controls)
        args.push_back(k + "=" + v);
    args.push_back("--yes");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("FIELDSMITH_HOME", home.c_str(), 1);
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Result r;
    r.seconds = secondsSince(start);
    r.peakKiB = usage.ru_maxrss;
    r.count = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

//! A fingerprint of the table's content in key order, the same for both engines.
struct Fingerprint {
    long records = 0;
    std::size_t hash = 0;
    void add(long id, const std::string& name, const std::string& city, const std::string& code,
             const std::string& bonus) {
        ++records;
        hash = hash * 1000003 ^ std::hash<std::string>{}(std::to_string(id) + '|' + name + '|' +
                                                         city + '|' + code + '|' + bonus);
    }
};

Fingerprint fingerprintParadox(const fs::path& dir) {
    engine::Session session;
    session.addStandardAlias("BENCH", dir);
    engine::Table t(session);
    t.setDatabaseName("BENCH");
    t.setTableName("OPS");
    t.open();
    Fingerprint f;
    for (t.first(); !t.eof(); t.next())
        f.add(t.field(0).asInteger(), t.field(1).asString(), t.field(2).asString(),
              t.field(4).asString(), t.field(5).asString());
    return f;
}

Fingerprint fingerprintSqlite(const fs::path& file) {
    sqlite3* db = nullptr;
    check(sqlite3_open(file.c_str(), &db), db, "open");
    sqlite3_stmt* q = nullptr;
    check(sqlite3_prepare_v2(db, "SELECT id, name, city, code, bonus FROM ops ORDER BY id", -1, &q,
                             nullptr),
          db, "prepare");
    auto text = [&](int c) {
        const auto* p = sqlite3_column_text(q, c);
        return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
    };
    Fingerprint f;
    while (sqlite3_step(q) == SQLITE_ROW)
        f.add(sqlite3_column_int64(q, 0), text(1), text(2), text(3), text(4));
    sqlite3_finalize(q);
    sqlite3_close(db);
    return f;
}

void copyTables(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    for (const auto& e : fs::directory_iterator(from))
        if (e.is_regular_file() && e.path().extension() != ".sqlite")
            fs::copy_file(e.path(), to / e.path().filename(), fs::copy_options::overwrite_existing);
}

} // namespace

int main(int argc, char** argv) {
    long records = 1'000'000;
    fs::path keep;
    fs::path batch = fs::canonical("/proc/self/exe").parent_path().parent_path() / "src" / "app" /
                     "batch" / "fieldsmith-batch";
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc)
            keep = argv[++i];
        else if (std::strcmp(argv[i], "--batch") == 0 && i + 1 < argc)
            batch = argv[++i];
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            only = argv[++i];
        else
            records = std::atol(argv[i]);
    }
    const long sources = records / 10;
    const fs::path root = workDirectory("bench_ops", keep);
    const fs::path pristine = root / "pristine", inProc = root / "inproc",
                   viaBatch = root / "batch", home = root / "home", inWindow = root / "window";
    const fs::path sqliteFile = root / "ops.sqlite", log = root / "batch.log";
    fs::remove_all(pristine);
    fs::remove_all(inProc);
    fs::remove_all(viaBatch);
    fs::remove_all(inWindow);
    fs::remove(sqliteFile);
    fs::create_directories(pristine);
    fs::create_directories(home);
    std::ofstream(home / "aliases.ini")
        << "[BENCH]\nTYPE=STANDARD\nPATH=" << viaBatch.string() << "\n";
    const bool haveBatch = fs::exists(batch);
    std::printf("bench_ops: %ld records keyed on ID, %ld source records, in %s\n", records, sources,
                root.c_str());
    if (!haveBatch) std::printf("(no %s: batch figures left out)\n", batch.c_str());

    const auto fillStart = Clock::now();
    inChild([&] {
        fillParadox(pristine, records, sources);
        return Result{};
    });
    const double fillPx = secondsSince(fillStart);
    const auto fillSqStart = Clock::now();
    fillSqlite(sqliteFile, records, sources);
    const double fillSq = secondsSince(fillSqStart);
    std::printf("setup: Paradox fill %.2fs, SQLite fill %.2fs, Paradox size %.1fMB\n", fillPx,
                fillSq, mib(familySize(pristine, "OPS")));
    copyTables(pristine, inProc);
    copyTables(pristine, viaBatch);
    copyTables(pristine, inWindow);

    struct Figures {
        const char* title;
        Result px, sq, batch, window, preview;
    };
    std::vector<Figures> figures;
    for (const Step& s : steps()) {
        if (!only.empty() && only != s.page) continue;
        Figures f{s.title, {}, {}, {}, {}, {}};
        f.preview = inChild([&] { return previewInProcess(inProc, s); }); // leaves inProc as it was
        f.px = inChild([&] { return runInProcess(inProc, s); });
#ifdef FIELDSMITH_BENCH_WINDOW
        f.window = inChild([&] { return runInWindow(inWindow, s); });
#endif
        f.sq = inChild([&] { return runSqlite(sqliteFile, s); });
        if (haveBatch) f.batch = runBatch(batch, home, log, s);
        figures.push_back(f);
        std::printf("  done: %s\n", s.title);
    }

    std::printf("\n%-42s %9s %9s %9s %7s %7s %9s %9s %9s\n", "", "in-proc", "batch", "SQLite",
                "ratio", "b-ratio", "peak ip", "peak b", "peak sq");
    for (const auto& f : figures)
        std::printf("%-42s %8.2fs %8.2fs %8.2fs %6.2fx %6.2fx %7.1fMB %7.1fMB %7.1fMB\n", f.title,
                    f.px.seconds, f.batch.seconds, f.sq.seconds, f.px.seconds / f.sq.seconds,
                    f.batch.seconds / f.sq.seconds, f.px.peakKiB / 1024.0, f.batch.peakKiB / 1024.0,
                    f.sq.peakKiB / 1024.0);
#ifdef FIELDSMITH_BENCH_WINDOW
    std::printf("\n%-42s %9s %9s %7s %9s\n", "in the window (offscreen)", "window", "SQLite",
                "ratio", "peak w");
    for (const auto& f : figures)
        std::printf("%-42s %8.2fs %8.2fs %6.2fx %7.1fMB\n", f.title, f.window.seconds,
                    f.sq.seconds, f.window.seconds / f.sq.seconds, f.window.peakKiB / 1024.0);
#endif
    std::printf("\n%-42s %9s %9s %7s %9s\n", "preview (in process)", "preview", "run", "ratio",
                "peak pv");
    for (const auto& f : figures)
        std::printf("%-42s %8.2fs %8.2fs %6.2fx %7.1fMB\n", f.title, f.preview.seconds,
                    f.px.seconds, f.preview.seconds / f.px.seconds, f.preview.peakKiB / 1024.0);
    std::printf("\n%-42s %10s %10s %10s %12s\n", "changes", "in-proc", "preview", "SQLite",
                "batch exit");
    for (const auto& f : figures)
        std::printf("%-42s %10ld %10ld %10ld %12ld\n", f.title, f.px.count, f.preview.count,
                    f.sq.count, f.batch.count);

    const Fingerprint a = fingerprintParadox(inProc), b = fingerprintSqlite(sqliteFile);
    const bool same = a.records == b.records && a.hash == b.hash;
    std::printf("\nrecords left: in-proc %ld, SQLite %ld; same content: %s\n", a.records, b.records,
                same ? "yes" : "NO");
    bool batchSame = true;
    if (haveBatch) {
        const Fingerprint c = fingerprintParadox(viaBatch);
        batchSame = c.records == a.records && c.hash == a.hash;
        std::printf("batch table same as in-proc: %s (log: %s)\n", batchSame ? "yes" : "NO",
                    log.c_str());
    }
#ifdef FIELDSMITH_BENCH_WINDOW
    const Fingerprint w = fingerprintParadox(inWindow);
    const bool windowSame = w.records == a.records && w.hash == a.hash;
    std::printf("window table same as in-proc: %s\n", windowSame ? "yes" : "NO");
    batchSame = batchSame && windowSame;
#endif
    if (keep.empty()) fs::remove_all(root);
    return same && batchSame ? 0 : 1;
}
