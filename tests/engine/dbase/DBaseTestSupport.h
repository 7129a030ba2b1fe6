// Helpers of the dBase tests: the independent readers and writers (Python's dbf, dbfread,
// dbview, Perl's XBase) run as other processes, and the engine's view of a table.
#pragma once

#include "engine/Session.h"
#include "engine/Table.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fieldsmith::test {

//! A record as a reader shows it: the deletion flag and the values as text (UTF-8).
struct ReaderRow {
    bool deleted = false;
    std::vector<std::string> values;
    bool operator==(const ReaderRow&) const = default;
};

struct CommandResult {
    int status = -1;
    std::string output;
};

//! Runs a shell command and collects its standard output.
CommandResult runCommand(const std::string& command);

//! Why an independent tool cannot be used ("" when it can): python3 with the dbf module,
//! dbfread, dbview or Perl's XBase.
std::string missingPythonDbf();
std::string missingDbfread();
std::string missingDbview();
std::string missingPerlXBase();

//! Makes the fixture tables of dbf_tool.py in a directory.
void makeFixtures(const std::filesystem::path& dir);

//! The records of a table as Python's dbf reads them, deleted ones included.
std::vector<ReaderRow> readWithPythonDbf(const std::filesystem::path& dbf);
//! The records as dbfread reads them (it also reads dBase IV memo files).
std::vector<ReaderRow> readWithDbfread(const std::filesystem::path& dbf);
//! The records as dbview shows them, trimmed, converted from the table's code page.
std::vector<ReaderRow> readWithDbview(const std::filesystem::path& dbf,
                                      const std::string& codePage);
//! The record numbers in the order a production index tag lists them, walked by Perl's
//! XBase through the tag's B-tree.
std::vector<std::uint32_t> tagOrderWithPerl(const std::filesystem::path& mdx,
                                            const std::string& tag);

//! The live records through the engine in the current order: values by asString, in UTF-8.
std::vector<std::vector<std::string>> readWithEngine(engine::Table& table);

//! A table object on a file (open it yourself).
std::unique_ptr<engine::Table> tableOn(engine::Session& session, const std::filesystem::path& file,
                                       bool exclusive = false);

//! Text in the program's code page (1252) from UTF-8, for comparing with engine values.
std::string ansi(const std::string& utf8);

} // namespace fieldsmith::test
