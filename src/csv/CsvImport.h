// The CSV import: a new Paradox table from a delimited text file, in two passes over the
// file. The first decides the fields (names, text or memo, sizes) and how the text is
// encoded; the second inserts one record per line. Neither holds the file in memory.
#pragma once

#include "engine/FieldDef.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::engine {
class Session;
}
namespace fieldsmith::run {
class RunHost;
struct RunContext;
} // namespace fieldsmith::run

namespace fieldsmith::csv {

//! The private alias through which the import reaches the target directory.
inline constexpr std::string_view kImportAlias = "CSV_IMP1";
//! A Paradox table holds at most this many fields; a first line with more is refused.
inline constexpr std::size_t kMaxImportFields = 255;
//! Values this long or longer go to memo fields; shorter ones to string fields of their
//! length plus 4, so the largest string field is 255.
inline constexpr std::size_t kMemoFromLength = 252;

//! The file side of an import, as the page sets it.
struct CsvImportSource {
    std::filesystem::path file;
    std::optional<char> separator;
    bool namesInFirstLine = true;
};

//! The separator a page setting stands for: its one character. An empty or longer setting
//! matches no character, so every line is one field.
std::optional<char> csvSeparator(std::string_view setting);

//! What the first pass learns about a file.
struct CsvFieldTable {
    std::vector<std::string> names;     //!< in the program's code page
    std::vector<std::size_t> maxLength; //!< longest value at each position, as it is stored
    bool utf8 = false;                  //!< the text is UTF-8, converted to the code page
    std::int64_t records = 0;           //!< records of the file, a names line included
};

//! Makes the alias name a directory of file tables for this session (replacing what it
//! stood for); an empty directory is the current one.
void DefineImportAlias(engine::Session& session, std::string_view alias,
                       const std::string& directory);

//! The first pass: the first record decides the number of fields and, with
//! namesInFirstLine, their names (else FELD000, FELD001, ...); every record, the names line
//! included, is measured. The text is UTF-8 when the file starts with a byte-order mark, or
//! when it is valid UTF-8 throughout and holds a character of more than one byte. Lets
//! pending window messages run now and then; nothing when the user aborts.
std::optional<CsvFieldTable> AnalyseCsvFields(engine::Session& session, run::RunHost& host,
                                              const CsvImportSource& source);

//! The field definitions for what the first pass found: memo fields (size 100) from
//! kMemoFromLength on, string fields of the length plus 4 below it; none required.
std::vector<engine::FieldDef> importFieldDefs(const CsvFieldTable& fields);

//! Deletes the old table's family and creates the new table in the alias's directory.
//! A failure shows "Error on Define Table" and is thrown on.
void DefineImportTable(engine::Session& session, run::RunHost& host, const std::string& tableName,
                       std::string_view alias, const std::string& directory,
                       const std::vector<engine::FieldDef>& defs);

//! The second pass: one record per data record of the file, DOS characters of a single-byte
//! file converted, progress and the cancel question after each. Returns the records loaded.
//! A failure to open the table shows "Error on Allocate Table" and is thrown on.
std::int64_t LoadCsvRecords(engine::Session& session, run::RunHost& host,
                            const std::string& tableName, std::string_view alias,
                            const CsvImportSource& source, const CsvFieldTable& fields);

//! The whole import run of the page ("generate Paradox Table").
void importCsvFile(run::RunContext& context);

} // namespace fieldsmith::csv
