// The CSV export: the table open in the shared dataset written to a delimited text file,
// line by line as it is read, in the dataset's order, in Windows-1252 with CR LF line ends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fieldsmith::engine {
class Session;
class Table;
} // namespace fieldsmith::engine
namespace fieldsmith::run {
class RunHost;
struct RunContext;
} // namespace fieldsmith::run

namespace fieldsmith::csv {

//! How the page wants the lines written.
struct CsvLineFormat {
    std::string separator = ";"; //!< used as it is: any length, also empty
    std::string enclosure = "\"";
    bool encloseNames = true;    //!< CsvUseEncloseCharForFieldsCheck
    bool bareEmptyValues = true; //!< noEncloseCharForEmptyFieldsCheck: nothing for an empty value
};

//! Whether a field's line breaks become blanks: its name, in upper case, is MEMO or INFO.
bool blanksLineBreaks(std::string_view fieldName);

//! Appends a value as the file holds it: with the enclosure one double quote, its double
//! quotes become apostrophes; with lineBreaksToBlanks every CR and every LF becomes a blank;
//! then it is enclosed, unless it is empty and empty values stay bare.
void appendCsvValue(std::string& line, std::string_view value, bool lineBreaksToBlanks,
                    const CsvLineFormat& format);

//! What WriteTableToCsv did.
struct CsvWriteResult {
    std::int64_t records = 0; //!< record lines written
    bool aborted = false;
};

//! Writes the file: the names line when names is set, then one line per record of the open
//! table, from its first record in its current order, letting pending window messages run
//! and asking the cancel question after each. Values in the program's code page are
//! written in Windows-1252 (characters it lacks become "?" and are counted). A record that
//! cannot be read ends the walk after the lines before it are written; a file that cannot
//! be written is an error naming the system's reason.
CsvWriteResult WriteTableToCsv(engine::Session& session, run::RunHost& host, engine::Table& table,
                               const std::string& file, const CsvLineFormat& format, bool names);

//! The whole export run of the page ("generate CSV File").
void exportTableToCsv(run::RunContext& context);

} // namespace fieldsmith::csv
