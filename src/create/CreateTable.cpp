#include "create/CreateTable.h"

#include "app/run/Operations.h"
#include "app/run/OracleLogon.h"
#include "app/run/Pickers.h"
#include "app/run/RunProtocol.h"
#include "app/run/Texts.h"
#include "create/OracleDdl.h"
#include "engine/EngineError.h"
#include "engine/FileIo.h"
#include "engine/Session.h"
#include "oraclient/OracleQuery.h"
#include "tables/TableFamily.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

namespace fieldsmith::create {

namespace fsys = std::filesystem;
using engine::FieldDef;
using engine::FieldType;
using engine::Table;

namespace {

//! Table bytes copied between two flushes of the new table: the engine maps the file while
//! it writes it, and a flush gives the written pages back, so memory stays flat.
constexpr std::int64_t kFlushBytes = 64 << 20;

//! Longest time between two commits of the rows copied into Oracle.
constexpr std::chrono::milliseconds kCommitInterval{200};

std::int64_t recordsPerFlush(const std::vector<FieldDef>& defs) {
    std::int64_t width = 1;
    for (const auto& d : defs)
        width += engine::isBlobType(d.type) ? 110 : std::max(d.size, 8);
    return std::max<std::int64_t>(1024, kFlushBytes / width);
}

// Closes the status dialog however the copy ends.
class StatusDialogScope {
public:
    explicit StatusDialogScope(run::RunHost& host) : host_(host) { host_.openStatusDialog(); }
    ~StatusDialogScope() { host_.closeStatusDialog(); }
    StatusDialogScope(const StatusDialogScope&) = delete;
    StatusDialogScope& operator=(const StatusDialogScope&) = delete;

private:
    run::RunHost& host_;
};

// A dBase table has no primary index and names every tag: a Paradox primary index becomes a
// unique tag named after its first field (at most 10 characters, made unique with a digit).
void asDBaseTags(std::vector<engine::IndexDef>& defs) {
    constexpr std::size_t kTagLength = 10;
    auto taken = [&](const std::string& name, const engine::IndexDef* self) {
        for (const auto& d : defs)
            if (&d != self && engine::sameName(d.name, name)) return true;
        return false;
    };
    for (engine::IndexDef& def : defs) {
        if (def.isPrimary()) def.options = (def.options & ~engine::ixPrimary) | engine::ixUnique;
        if (!def.name.empty()) continue;
        const auto fields = def.fieldList();
        std::string base = engine::upperAscii(fields.empty() ? "KEY" : fields.front());
        for (char& c : base)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        base.resize(std::min(base.size(), kTagLength));
        std::string name = base;
        for (int n = 1; taken(name, &def) && n < 100; ++n) {
            const std::string digits = std::to_string(n);
            name = base.substr(0, kTagLength - digits.size()) + digits;
        }
        def.name = name;
    }
}

// One run of the page: the source, the target in the engine or in Oracle, and whether a
// step failed.
class CreateTableRun {
public:
    explicit CreateTableRun(run::RunContext& ctx)
        : ctx_(ctx), host_(ctx.host), in_(ctx.inputs.CreateTableSeite), source_(ctx.session),
          target_(ctx.session) {}

    //! The whole creation; true when the completion message is due.
    bool CreateTableFrom(const std::string& newTable, const std::string& targetAlias,
                         bool includeIndexes, const std::string& targetPath);

    bool CreateFailed = false;

private:
    bool oracleTarget() const { return in_.OracleCheck; }
    void openSource();
    bool replaceOlderTarget(const std::string& newTable, const std::string& targetAlias,
                            const std::string& targetPath);
    void defineEngineTable(const std::string& newTable, const std::string& targetAlias,
                           bool includeIndexes);
    void defineOracleTable(bool includeIndexes);
    void copyRecords();
    void copyToEngine(std::int64_t total, std::int64_t& copied);
    void copyToOracle(std::int64_t total, std::int64_t& copied);
    std::int64_t recordsKept(std::int64_t posted);
    //! Progress after a record; true when the status dialog's Cancel was pressed.
    bool afterRecord(std::int64_t copied);

    run::RunContext& ctx_;
    run::RunHost& host_;
    const run::CreateTableSeiteInputs& in_;
    Table source_;
    Table target_;
    std::unique_ptr<oraclient::OracleQuery> oracle_;
    std::string owner_, oracleTable_, qualified_;
    //! The progress texts, written over for each record instead of made anew.
    std::string copiedText_, countText_;
    std::optional<run::ProgressTexts> progress_; //!< of the record copy
};

void CreateTableRun::openSource() {
    source_.close();
    source_.setDatabaseName(in_.NeuTabAlias);
    source_.setTableName(in_.NeuTabBox);
    source_.setTableType(tableTypeByName(in_.NeuTabBox));
    source_.setIndexFieldNames("");
    source_.open();
}

// Asks before an existing target is replaced, then removes it, ignoring what cannot be
// removed. False when the user keeps the old table.
bool CreateTableRun::replaceOlderTarget(const std::string& newTable, const std::string& targetAlias,
                                        const std::string& targetPath) {
    if (oracleTarget()) {
        // Only a table known to exist is dropped, and only after Yes; a name the server
        // cannot even look up is left to CREATE TABLE to refuse.
        const bool exists = oracleTableExists(ctx_.shared.tSession, qualified_) == true;
        if (exists &&
            !host_.confirm("Table " + qualified_ + " exists and will be replaced. Continue?"))
            return false;
        // Oracle keeps no backup for an undo: the run is noted as one that cannot be undone.
        ctx_.session.beforeServerWrite(targetAlias, qualified_);
        if (!exists) return true;
        try {
            DropOracleTable(ctx_.shared.tSession, qualified_);
        } catch (const oraclient::OracleError&) {
            // What cannot be dropped makes CREATE TABLE fail with the server's reason.
        }
        return true;
    }

    Table probe(ctx_.session);
    probe.setDatabaseName(targetAlias);
    probe.setTableName(newTable);
    probe.setTableType(tableTypeByName(newTable));
    if (ctx_.session.isSqlAlias(targetAlias)) {
        if (engine::sameName(targetAlias, in_.NeuTabAlias) &&
            engine::sameName(newTable, in_.NeuTabBox))
            throw engine::EngineError(engine::ErrorKind::Database,
                                      "The new table " + newTable + " is the source table itself");
        bool exists = false;
        try {
            probe.open();
            exists = true;
            probe.close();
        } catch (const engine::EngineError&) {
        }
        // The engine replaces a server table when it creates one of the same name.
        return !exists ||
               host_.confirm("Table " + newTable + " exists and will be replaced. Continue?");
    }

    std::error_code ec;
    fsys::path file;
    try {
        file = probe.filePath();
    } catch (const engine::EngineError&) {
        // No such directory: nothing to replace; creating the table reports it.
    }
    if (!file.empty() && fsys::exists(file, ec)) {
        if (fsys::equivalent(file, source_.filePath(), ec))
            throw engine::EngineError(engine::ErrorKind::Database,
                                      "The new table " + file.string() +
                                          " is the source table itself");
        if (!host_.confirm("Table " + file.string() + " exists and will be replaced. Continue?"))
            return false;
        // The program's own shared opens give way; another program's open table stays.
        for (Table* open : ctx_.session.openTablesOnFile(file))
            if (open != &source_ && !open->exclusive()) open->close();
        engine::File held = engine::File::open(file);
        if (!held.tryLock(true))
            throw engine::EngineError(engine::ErrorKind::Database,
                                      "Table " + file.string() + " is in use by someone else");
    }
    if (!file.empty()) ctx_.session.beforeWrite(file); // the old table is backed up before it goes
    try {
        const bool separated = targetPath.empty() || targetPath.back() == '/';
        tables::DeleteTableFamily(
            ctx_.session.workingFile(targetPath + (separated ? "" : "/") + newTable).string());
    } catch (...) {
        // What cannot be deleted stays; creating the table reports the rest.
    }
    return true;
}

void CreateTableRun::defineEngineTable(const std::string& newTable, const std::string& targetAlias,
                                       bool includeIndexes) {
    target_.close();
    target_.setDatabaseName(targetAlias);
    target_.setTableName(newTable);
    target_.setTableType(tableTypeByName(newTable));
    target_.fieldDefs() = source_.fieldDefs();
    target_.indexDefs().clear();
    source_.updateIndexDefs();
    if (includeIndexes)
        for (const engine::IndexDef& def : source_.indexDefs())
            if (!(def.options & engine::ixDamaged)) target_.indexDefs().push_back(def);
    if (target_.tableType() == engine::TableType::DBase) asDBaseTags(target_.indexDefs());
    target_.createTable();
    target_.setExclusive(false);
}

void CreateTableRun::defineOracleTable(bool includeIndexes) {
    oraclient::OracleSession& session = ctx_.shared.tSession;
    executeStatement(session, *oracle_,
                     createTableLines(owner_, oracleTable_, source_.fieldDefs()));
    if (!includeIndexes) return;
    source_.updateIndexDefs();
    // Oracle refuses an index over the columns the primary key constraint indexes already
    // (ORA-01408), as a keyed source's primary index is: that one is not asked for, and
    // the other indexes keep their numbers.
    const std::string key = primaryKeyColumns(source_.fieldDefs());
    int j = 0;
    for (const engine::IndexDef& def : source_.indexDefs()) {
        const int number = j++;
        if (!key.empty() && engine::sameName(indexColumns(def.fields), key)) continue;
        executeStatement(session, *oracle_,
                         {createIndexLine(owner_, oracleTable_, number, def.fields)});
    }
}

bool CreateTableRun::afterRecord(std::int64_t copied) {
    progress_->done(copied);
    host_.processPendingMessages();
    return host_.statusDialogCancelled();
}

// A target that stores its records as the source does (same format, field types and code
// page, no blobs) gets each record's bytes as they are. Otherwise fields of one type are
// copied as values, which is what their text would give back; fields whose types differ go
// through their text.
void CreateTableRun::copyToEngine(std::int64_t total, std::int64_t& copied) {
    target_.close();
    target_.setIndexFieldNames("");
    target_.open();
    target_.requireWritable();
    struct Pair {
        engine::Field from, to;
        bool sameType;
    };
    std::vector<Pair> pairs;
    bool inPlace = source_.fieldCount() == target_.fieldCount();
    for (int i = 0; i < source_.fieldCount(); ++i) {
        engine::Field from = source_.field(i);
        engine::Field to = target_.fieldByName(from.name());
        pairs.push_back({from, to, from.type() == to.type()});
        inPlace = inPlace && to.index() == i;
    }
    const bool asStored = inPlace && target_.storesRecordsLike(source_);
    const std::int64_t flushEvery = recordsPerFlush(target_.fieldDefs());
    target_.setFilling(true);
    try {
        source_.first();
        for (std::int64_t k = 0; k < total; ++k) {
            target_.insert();
            if (asStored) {
                target_.copyRecordFrom(source_);
            } else {
                for (Pair& p : pairs) {
                    if (p.sameType)
                        p.to.setValue(p.from.value());
                    else
                        p.to.setAsString(p.from.asString());
                }
            }
            target_.post();
            ++copied;
            if (copied % flushEvery == 0) target_.flush();
            if (afterRecord(copied)) break;
            source_.next();
        }
        progress_->finish(copied);
        target_.close(); // flushes: the records are on disk when the run reports completion
    } catch (...) {
        copied = recordsKept(copied);
        throw;
    }
}

// After a failed copy: the records the new table holds. A write that failed (a full disk)
// loses the records the engine held for it, so the count of posts would claim more than
// is there. The table, closed and opened again, says what it holds.
std::int64_t CreateTableRun::recordsKept(std::int64_t posted) {
    try {
        target_.close();
    } catch (...) {
        // The first error is the one to report; the close has let the table go.
    }
    try {
        target_.open();
        const std::int64_t held = target_.recordCount();
        target_.close();
        return std::min(held, posted);
    } catch (...) {
        return posted; // nothing better to say than what was posted
    }
}

// Oracle has no boolean column: a logical field is written as 1 or 0. The rows go through
// the session's queue, many to a statement, and are committed as they go, at most
// kCommitInterval apart rather than after every row: a commit per row costs the target a
// log write per row, many times the row itself. Every way out (the end, Cancel, an error)
// commits what was posted, so the rows copied so far stay.
void CreateTableRun::copyToOracle(std::int64_t total, std::int64_t& copied) {
    oraclient::OracleSession& session = ctx_.shared.tSession;
    oracle_->close();
    oracle_->sql() = {"SELECT T.ROWID, T.* FROM " + qualified_ + " T "};
    oracle_->open();
    oracle_->setKeepInsertedRows(false); // the copy never reads its rows back
    struct Pair {
        engine::Field from;
        int to;
        bool logical;
    };
    std::vector<Pair> pairs;
    for (int i = 0; i < source_.fieldCount(); ++i) {
        engine::Field from = source_.field(i);
        pairs.push_back({from, oracle_->fieldIndex(MakeOracleColumnName(from.name())),
                         from.type() == FieldType::ftBoolean});
    }
    auto lastCommit = std::chrono::steady_clock::now();
    try {
        source_.first();
        for (std::int64_t k = 0; k < total; ++k) {
            oracle_->insert();
            for (const Pair& p : pairs) {
                if (p.logical && !p.from.isNull())
                    oracle_->setFieldText(p.to, p.from.asInteger() ? "1" : "0");
                else
                    oracle_->setFieldText(p.to, p.from.asString());
            }
            oracle_->post();
            ++copied;
            if (const auto now = std::chrono::steady_clock::now();
                now - lastCommit >= kCommitInterval) {
                session.commit();
                lastCommit = now;
            }
            if (afterRecord(copied)) break;
            source_.next();
        }
        session.commit(); // writes the rows still queued
        progress_->finish(copied);
    } catch (...) {
        oracle_->cancel();
        try {
            session.commit();
        } catch (...) {
            // The first error is the one to report.
        }
        // Rows queued behind one that failed were never written.
        copied -= static_cast<std::int64_t>(session.droppedRows());
        throw;
    }
    oracle_->close();
}

void CreateTableRun::copyRecords() {
    const std::int64_t total = source_.recordCount();
    StatusDialogScope dialog(host_);
    host_.setStatusDialogCount(statusDialogCount(0, total));
    host_.processPendingMessages();
    std::int64_t copied = 0;
    // The count 0 is on show already.
    progress_.emplace(
        host_,
        [this, total](std::int64_t n) {
            recordsCopied(copiedText_, n, total);
            host_.setStatusText(1, copiedText_);
            statusDialogCount(countText_, n, total);
            host_.setStatusDialogCount(countText_);
        },
        0);
    try {
        if (oracleTarget())
            copyToOracle(total, copied);
        else
            copyToEngine(total, copied);
    } catch (...) {
        progress_->finish(copied);
        host_.showError(std::string(kErrorOnCopyingTable));
        CreateFailed = true;
        throw;
    }
}

bool CreateTableRun::CreateTableFrom(const std::string& newTable, const std::string& targetAlias,
                                     bool includeIndexes, const std::string& targetPath) {
    CreateFailed = false;
    ctx_.session.closeIdleDatabases();
    // The window stays in the running state until the run ends, so that Run cannot start a
    // second creation from inside the copy's breathers.
    run::RunningState running(host_, false);
    if (oracleTarget()) {
        if (!run::EnsureOracleLogon(ctx_, "CreateTableSeite")) return false;
        owner_ = ctx_.shared.tSession.logonUsername();
        oracleTable_ = NameWithoutExtension(newTable);
        qualified_ = owner_ + "." + oracleTable_;
        oracle_ = std::make_unique<oraclient::OracleQuery>(ctx_.shared.tSession);
    }
    // The source is opened before the older target is removed, so that a source that
    // cannot be opened leaves the older target as it is.
    openSource();
    if (!replaceOlderTarget(newTable, targetAlias, targetPath)) return false;
    try {
        if (oracleTarget())
            defineOracleTable(includeIndexes);
        else
            defineEngineTable(newTable, targetAlias, includeIndexes);
    } catch (...) {
        host_.showError(std::string(kErrorOnDefineTable));
        CreateFailed = true;
        throw;
    }
    if (in_.CopyAllRecsCheck) copyRecords();
    running.leave();
    return !CreateFailed;
}

} // namespace

engine::TableType tableTypeByName(std::string_view tableName) {
    const auto slash = tableName.rfind('/');
    const std::string_view name =
        slash == std::string_view::npos ? tableName : tableName.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return engine::TableType::Paradox;
    const std::string_view ext = name.substr(dot + 1);
    if (engine::sameName(ext, "DB")) return engine::TableType::Paradox;
    if (engine::sameName(ext, "DBF")) return engine::TableType::DBase;
    return engine::TableType::Default;
}

using run::appendNumber;

void recordsCopied(std::string& out, std::int64_t copied, std::int64_t total) {
    out.clear();
    appendNumber(out, copied);
    out += " Records of ";
    appendNumber(out, total);
    out += " copied";
}

void statusDialogCount(std::string& out, std::int64_t copied, std::int64_t total) {
    out.clear();
    appendNumber(out, copied);
    out += " of ";
    appendNumber(out, total);
    out += " records  ";
}

std::string recordsCopied(std::int64_t copied, std::int64_t total) {
    std::string out;
    recordsCopied(out, copied, total);
    return out;
}

std::string statusDialogCount(std::int64_t copied, std::int64_t total) {
    std::string out;
    statusDialogCount(out, copied, total);
    return out;
}

void ExecuteCreateTable(run::RunContext& ctx) {
    const run::CreateTableSeiteInputs& in = ctx.inputs.CreateTableSeite;
    CreateTableRun creation(ctx);
    creation.CreateFailed = false;
    const std::string targetPath = run::GetAliasPath(ctx.session, in.NeuTab2Alias);
    if (creation.CreateTableFrom(in.NeuTabelleEdit, in.NeuTab2Alias, in.IndexesCheck, targetPath))
        ctx.host.showInformation(std::string(kTableCreateComplete));
}

void registerOperations(run::OperationTable& table) {
    table.add("ExecuteCreateTable", ExecuteCreateTable);
}

} // namespace fieldsmith::create
