#include "csv/CsvImport.h"

#include "app/run/Operations.h"
#include "app/run/RunProtocol.h"
#include "app/run/Texts.h"
#include "csv/CsvError.h"
#include "csv/CsvReader.h"
#include "csv/Utf8Decoder.h"
#include "engine/EngineError.h"
#include "engine/FileIo.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "ops/ValueRules.h"
#include "tables/TableFamily.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fieldsmith::csv {

namespace fsys = std::filesystem;
using engine::FieldDef;
using engine::FieldType;
using engine::Table;

namespace {

constexpr std::string_view kErrorOnDefineTable = "Error on Define Table";
constexpr std::string_view kErrorOnAllocateTable = "Error on Allocate Table";
//! Records between two breathers of the first pass.
constexpr std::int64_t kAnalyseBreather = 4096;
//! Table bytes written between two flushes of the second pass.
constexpr std::int64_t kFlushBytes = 64 << 20;

// The table type a target name stands for: a ".DBF" name makes a dBase table.
engine::TableType targetType(const std::string& tableName) {
    return engine::tableTypeForName(tableName);
}

// The extension of a table name without its dot; empty when the name has none.
std::string extensionOf(const std::string& tableName) {
    const auto dot = tableName.rfind('.');
    return dot == std::string::npos ? std::string() : tableName.substr(dot + 1);
}

// A scratch directory under the system's temporary directory, removed with its content.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = (fsys::temp_directory_path() / "fieldsmith-csv-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throwSystemError("Cannot create", pattern, errno);
        path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ec;
        fsys::remove_all(path_, ec);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const fsys::path& path() const { return path_; }

private:
    fsys::path path_;
};

// Makes the table once in a scratch directory and removes it again: a definition that the
// engine refuses (an empty or repeated name, too long a name, too long a record) is then
// found before the old table and its files are deleted, not after. The trial table is no
// output of the run: the run's backup does not list it.
void tryDefinition(engine::Session& session, const std::string& tableName,
                   const std::vector<FieldDef>& defs) {
    ScratchDirectory scratch;
    session.withoutBeforeWrite([&] {
        Table t(session);
        t.setDatabaseName("");
        t.setTableName((scratch.path() / tableName).string());
        t.setTableType(targetType(tableName));
        t.fieldDefs() = defs;
        t.indexDefs().clear();
        t.createTable();
    });
}

// The engine maps the table file while it writes it, so the pages written stay in the
// process until a flush gives them back. Flushing after about kFlushBytes of records keeps
// the memory of an import the same however long the file is, at the cost of a few more
// writes to the disk.
std::int64_t recordsPerFlush(const std::vector<FieldDef>& defs) {
    std::int64_t width = 1;
    for (const auto& d : defs)
        width += d.type == FieldType::ftMemo ? 110 : d.size;
    return std::max<std::int64_t>(1024, kFlushBytes / width);
}

// Another program's open table is not ours to delete: its files would vanish under it. The
// program's own shared opens give way, as they do to any new table of that name.
void requireTableFree(engine::Session& session, const fsys::path& path) {
    for (Table* open : session.openTablesOnFile(path))
        if (!open->exclusive()) open->close();
    engine::File file = engine::File::open(path);
    if (!file.tryLock(true))
        throw engine::EngineError(engine::ErrorKind::Database,
                                  "Table " + path.string() + " is in use by someone else");
}

} // namespace

std::optional<char> csvSeparator(std::string_view setting) {
    if (setting.size() != 1) return std::nullopt;
    return setting[0];
}

void DefineImportAlias(engine::Session& session, std::string_view alias,
                       const std::string& directory) {
    session.addStandardAlias(std::string(alias), directory);
}

std::optional<CsvFieldTable> AnalyseCsvFields(engine::Session& session, run::RunHost& host,
                                              const CsvImportSource& source) {
    CsvReader reader(source.file, source.separator);
    CsvFieldTable table;
    std::size_t fields = 1;
    std::vector<std::string> rawNames;
    // Both measures are kept until the end tells how the file is encoded.
    std::vector<std::size_t> bytes, chars;
    bool valid = true, multiByte = false;
    while (reader.readRecord()) {
        if (table.records == 0) {
            fields = reader.fieldCount();
            if (fields > kMaxImportFields)
                throw CsvError("The first line of " + source.file.string() + " holds " +
                               std::to_string(fields) + " fields; a table takes at most " +
                               std::to_string(kMaxImportFields) + ".");
            bytes.assign(fields, 0);
            chars.assign(fields, 0);
            if (source.namesInFirstLine)
                for (std::size_t j = 0; j < fields; ++j)
                    rawNames.emplace_back(reader.field(j));
        }
        const std::size_t n = std::min(fields, reader.fieldCount());
        const bool high = Utf8Decoder::hasHighBytes(reader.recordBytes());
        for (std::size_t j = 0; j < n; ++j) {
            const std::string_view value = reader.field(j);
            std::size_t length = value.size();
            bytes[j] = std::max(bytes[j], length);
            if (high && Utf8Decoder::hasHighBytes(value)) {
                const Utf8Decoder::Scan scan = Utf8Decoder::scan(value);
                valid = valid && scan.valid;
                multiByte = multiByte || scan.multiByte;
                length = scan.length;
            }
            chars[j] = std::max(chars[j], length);
        }
        ++table.records;
        if (table.records % kAnalyseBreather == 0) {
            host.processPendingMessages();
            if (run::abortRequested(host, run::kAbortProcessCapital)) return std::nullopt;
        }
    }
    if (table.records == 0) {
        // An empty file: its one empty line decides.
        bytes.assign(1, 0);
        chars.assign(1, 0);
        if (source.namesInFirstLine) rawNames.assign(1, std::string());
    }
    // Separators are ASCII in a UTF-8 file: one outside ASCII can only split a single-byte one.
    const bool asciiSeparator =
        !source.separator || static_cast<unsigned char>(*source.separator) < 0x80;
    table.utf8 = asciiSeparator && (reader.hasByteOrderMark() || (valid && multiByte));
    table.maxLength = table.utf8 ? chars : bytes;
    const Utf8Decoder decoder(session.ansiCodePage());
    for (std::size_t j = 0; j < fields; ++j) {
        if (!source.namesInFirstLine) {
            std::string digits = std::to_string(j);
            table.names.push_back(
                "FELD" + std::string(3 - std::min<std::size_t>(3, digits.size()), '0') + digits);
        } else if (table.utf8) {
            std::string name;
            session.conversionLosses() += decoder.convert(rawNames[j], name);
            table.names.push_back(std::move(name));
        } else {
            table.names.push_back(rawNames[j]); // as they are, without the DOS conversion
        }
    }
    return table;
}

std::vector<FieldDef> importFieldDefs(const CsvFieldTable& fields) {
    std::vector<FieldDef> defs;
    for (std::size_t j = 0; j < fields.names.size(); ++j) {
        const std::size_t length = fields.maxLength[j];
        if (length >= kMemoFromLength)
            defs.push_back({fields.names[j], FieldType::ftMemo, 100, false});
        else
            defs.push_back(
                {fields.names[j], FieldType::ftString, static_cast<int>(length) + 4, false});
    }
    return defs;
}

void DefineImportTable(engine::Session& session, run::RunHost& host, const std::string& tableName,
                       std::string_view alias, const std::string& directory,
                       const std::vector<FieldDef>& defs) {
    session.closeIdleDatabases();
    const bool separated = directory.empty() || directory.back() == '/';
    const std::string target = directory + (separated ? "" : "/") + tableName;
    std::filesystem::path mainFile(target);
    if (!mainFile.has_extension()) mainFile += ".DB";
    session.beforeWrite(mainFile); // the old table is backed up before it goes
    try {
        tables::DeleteTableFamily(session.workingFile(target).string());
    } catch (...) {
        // The family is deleted as far as it can be; creating the table reports the rest.
    }
    try {
        Table t(session);
        t.setDatabaseName(std::string(alias));
        t.setTableName(tableName);
        t.setTableType(targetType(tableName));
        t.fieldDefs() = defs;
        t.indexDefs().clear();
        t.createTable();
    } catch (...) {
        host.showError(std::string(kErrorOnDefineTable));
        throw;
    }
}

std::int64_t LoadCsvRecords(engine::Session& session, run::RunHost& host,
                            const std::string& tableName, std::string_view alias,
                            const CsvImportSource& source, const CsvFieldTable& fields) {
    Table t(session);
    std::vector<engine::Field> targets;
    try {
        session.closeIdleDatabases();
        t.setDatabaseName(std::string(alias));
        t.setTableName(tableName);
        t.setTableType(targetType(tableName));
        t.setIndexFieldNames("");
        t.open();
        t.requireWritable();
        t.setFilling(true); // a new table: its records may reach the file a batch at a time
        // Each position of the file goes to the field of its name.
        for (const auto& name : fields.names)
            targets.push_back(t.fieldByName(name));
    } catch (...) {
        host.showError(std::string(kErrorOnAllocateTable));
        throw;
    }

    const std::int64_t total = source.namesInFirstLine ? fields.records - 1 : fields.records;
    host.setStatusText(1, run::recordsOfProcessed(0, total));
    host.setStatusText(2, " ");
    CsvReader reader(source.file, source.separator);
    if (source.namesInFirstLine) reader.readRecord();
    const Utf8Decoder decoder(session.ansiCodePage());
    std::string converted;
    std::uint64_t lost = 0;
    const std::int64_t flushEvery = recordsPerFlush(t.fieldDefs());
    std::int64_t loaded = 0;
    // k is the position of the record in the file, the names line counting as 0.
    std::int64_t k = source.namesInFirstLine ? 1 : 0;
    run::ProgressTexts progress(host, [&](std::int64_t position) {
        host.setStatusText(1, run::recordsOfProcessed(position, total));
    });
    try {
        while (reader.readRecord()) {
            t.insert();
            const std::size_t n = std::min(targets.size(), reader.fieldCount());
            const bool high = Utf8Decoder::hasHighBytes(reader.recordBytes());
            for (std::size_t j = 0; j < n; ++j) {
                const std::string_view value = reader.field(j);
                if (value.empty()) continue; // a new record's fields are empty already
                if (!high || !Utf8Decoder::hasHighBytes(value)) {
                    targets[j].setAsString(value); // ASCII: no conversion changes it
                } else if (fields.utf8) {
                    converted.clear();
                    lost += decoder.convert(value, converted);
                    targets[j].setAsString(converted);
                } else {
                    targets[j].setAsString(ops::ConvertOemToAnsi(value));
                }
            }
            t.post();
            if (++loaded % flushEvery == 0) t.flush();
            progress.done(k);
            host.processPendingMessages();
            progress.beforeQuestion();
            if (run::abortRequested(host, run::kAbortProcessCapital)) break;
            ++k;
        }
        progress.finish(progress.last());
    } catch (...) {
        session.conversionLosses() += lost;
        // The status bar tells how far the import came, and the first error is the one to
        // report.
        try {
            progress.finish(progress.last());
        } catch (...) {
        }
        try {
            t.close();
        } catch (...) {
        }
        throw;
    }
    session.conversionLosses() += lost;
    t.close(); // flushes: the records are on disk when the run ends
    return loaded;
}

void importCsvFile(run::RunContext& ctx) {
    run::RunHost& host = ctx.host;
    const run::CSVMakeTableInputs& in = ctx.inputs.CSVMakeTable;
    host.CancelRequested = 0;
    std::error_code ec;
    if (!fsys::is_regular_file(in.CSVEdit, ec))
        return host.showError("File does not exist: " + in.CSVEdit);

    // The target: directory and table name, split at the last separator.
    const std::string& target = in.CSVtoPdxEdit;
    const auto slash = target.rfind('/');
    // A table in the root directory keeps the root as its directory; a name without a
    // directory is a table in the current directory, as a name typed in a terminal is.
    const std::string directory = slash == std::string::npos ? fsys::current_path(ec).string()
                                  : slash == 0               ? std::string("/")
                                                             : target.substr(0, slash);
    const std::string tableName = slash == std::string::npos ? target : target.substr(slash + 1);
    if (tableName.empty()) return host.showError(std::string(run::kTableMustBeSpecified));
    const std::string extension = extensionOf(tableName);
    if (!extension.empty() && !engine::sameName(extension, "DB") && !engine::sameName(extension, "DBF"))
        return host.showError("The target must be a Paradox table (.DB) or a dBase table (.DBF): " +
                              target);
    if (!directory.empty() && !fsys::is_directory(directory, ec))
        return host.showError("Directory does not exist: " + directory);

    const CsvImportSource source{in.CSVEdit, csvSeparator(in.FeldSeparEdit), in.FeldNamenCheck};
    run::RunningState running(host, false);
    DefineImportAlias(ctx.session, kImportAlias, directory);
    Table probe(ctx.session);
    probe.setDatabaseName(std::string(kImportAlias));
    probe.setTableName(tableName);
    const fsys::path tablePath = probe.filePath();
    if (tables::isFamilyFile(source.file, tablePath))
        return host.showError("The CSV file is a file of the target table " + tablePath.string() +
                              "; choose another target.");

    const auto fields = AnalyseCsvFields(ctx.session, host, source);
    if (!fields) return; // aborted: nothing has been touched
    const std::vector<FieldDef> defs = importFieldDefs(*fields);
    try {
        tryDefinition(ctx.session, tableName, defs);
    } catch (...) {
        host.showError(std::string(kErrorOnDefineTable));
        throw;
    }
    if (fsys::exists(tablePath, ec)) {
        if (!host.confirm("Table " + tablePath.string() +
                          " exists and will be replaced with all its files. Continue?"))
            return;
        requireTableFree(ctx.session, tablePath);
    }
    DefineImportTable(ctx.session, host, tableName, kImportAlias, directory, defs);
    LoadCsvRecords(ctx.session, host, tableName, kImportAlias, source, *fields);
    running.leave();
}

} // namespace fieldsmith::csv
