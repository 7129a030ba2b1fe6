#include "csv/CsvExport.h"

#include "app/run/Operations.h"
#include "app/run/RunProtocol.h"
#include "app/run/Texts.h"
#include "csv/CsvError.h"
#include "engine/CodePage.h"
#include "engine/FieldDef.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "tables/TableFamily.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fieldsmith::csv {

namespace {

constexpr int kFileCodePage = 1252;

// Writes a file through a buffer of its own; every failure names the file and the system's
// reason. Opening truncates: an existing file that may not be written stays as it was.
class FileWriter {
public:
    explicit FileWriter(std::string path) : path_(std::move(path)) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0) throwSystemError("Cannot write", path_, errno);
        buffer_.reserve(kBufferSize + 4096);
    }
    ~FileWriter() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void write(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= kBufferSize) flush();
    }
    void flush() {
        std::size_t done = 0;
        while (done < buffer_.size()) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throwSystemError("Cannot write", path_, errno);
            done += static_cast<std::size_t>(n);
        }
        buffer_.clear();
    }
    //! Writes what is left and closes; a full disk or a failing device shows here at last.
    void close() {
        flush();
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) throwSystemError("Cannot write", path_, errno);
    }

private:
    static constexpr std::size_t kBufferSize = 1 << 20;
    std::string path_;
    int fd_ = -1;
    std::string buffer_;
};

// Whether the file named is one of the table's own files, which the export would destroy
// while it reads them. A table that lives in no files of its own has none to overwrite.
bool isFileOfTable(const std::string& file, engine::Table& table) {
    try {
        return tables::isFamilyFile(file, table.filePath());
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

bool blanksLineBreaks(std::string_view fieldName) {
    const std::string upper = engine::upperAscii(fieldName);
    return upper == "MEMO" || upper == "INFO";
}

void appendCsvValue(std::string& line, std::string_view value, bool lineBreaksToBlanks,
                    const CsvLineFormat& format) {
    if (value.empty() && format.bareEmptyValues) return;
    const bool quoteToApostrophe = format.enclosure == "\"";
    line += format.enclosure;
    for (char c : value) {
        if (c == '"' && quoteToApostrophe)
            c = '\'';
        else if ((c == '\r' || c == '\n') && lineBreaksToBlanks)
            c = ' ';
        line += c;
    }
    line += format.enclosure;
}

CsvWriteResult WriteTableToCsv(engine::Session& session, run::RunHost& host, engine::Table& table,
                               const std::string& file, const CsvLineFormat& format, bool names) {
    engine::CodePageConverter toFile(session.ansiCodePage(), kFileCodePage);
    toFile.setLossCounter(&session.conversionLosses());
    FileWriter out(file);
    CsvWriteResult result;
    const int fields = table.fieldCount();
    std::vector<bool> blanks;
    for (int i = 0; i < fields; ++i)
        blanks.push_back(blanksLineBreaks(table.field(i).name()));
    std::string line;
    try {
        if (names) {
            for (int i = 0; i < fields; ++i) {
                if (i > 0) line += format.separator;
                const std::string name = toFile.convert(table.field(i).name());
                line += format.encloseNames ? format.enclosure + name + format.enclosure : name;
            }
            line += "\r\n";
            out.write(line);
        }
        table.first();
        const std::int64_t total = table.recordCount();
        for (std::int64_t r = 0; r < total; ++r) {
            line.clear();
            for (int i = 0; i < fields; ++i) {
                if (i > 0) line += format.separator;
                const std::string value = table.field(i).asString();
                appendCsvValue(line, toFile.isIdentity() ? value : toFile.convert(value),
                               blanks[static_cast<std::size_t>(i)], format);
            }
            line += "\r\n";
            out.write(line);
            ++result.records;
            table.next();
            host.processPendingMessages();
            if (run::abortRequested(host, run::kAbortProcessCapital)) {
                result.aborted = true;
                break;
            }
        }
    } catch (...) {
        // The lines made before the error are kept in the file.
        try {
            out.close();
        } catch (...) {
        }
        throw;
    }
    out.close();
    return result;
}

void exportTableToCsv(run::RunContext& ctx) {
    run::RunHost& host = ctx.host;
    const run::CSVMakeTableInputs& in = ctx.inputs.CSVMakeTable;
    engine::Table& table = ctx.shared.TempTable;
    host.CancelRequested = 0;
    if (in.CSVEdit.empty()) return host.showError("CSV File must be specified!");
    // Without an open table there is nothing to write; the file, if any, stays as it is.
    if (!table.active())
        return host.showError("Table must be opened with \"Table View\" function first!");
    if (isFileOfTable(in.CSVEdit, table))
        return host.showError("The CSV file is a file of the table being written: " + in.CSVEdit);
    std::error_code ec;
    if (std::filesystem::exists(in.CSVEdit, ec) &&
        !host.confirm("File does already exist: \"" + in.CSVEdit +
                      "\" File will be deleted! Continue?"))
        return;
    const CsvLineFormat format{in.FeldSeparEdit, in.FeldEncloseEdit,
                               in.CsvUseEncloseCharForFieldsCheck,
                               in.noEncloseCharForEmptyFieldsCheck};
    // Running, so that Run cannot start a second export on the same dataset meanwhile.
    run::RunningState running(host, false);
    WriteTableToCsv(ctx.session, host, table, in.CSVEdit, format, in.FeldNamenCheck);
    running.leave();
}

} // namespace fieldsmith::csv
