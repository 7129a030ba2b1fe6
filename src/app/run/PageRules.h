// The small text rules of the pages' change handlers, kept free of widgets so that they
// are tested on their own: derived file and table names.
#pragma once

#include <string>
#include <string_view>

namespace fieldsmith::run {

//! The CSV import's target: the CSV file name up to and including its last dot, its name
//! part in upper case, then "DB" (no dot: just "DB"). /data/export.csv gives
//! /data/EXPORT.DB; the directory keeps its case, as file names are case-sensitive here.
std::string csvTargetName(std::string_view csvFile);

//! The Create Table page's proposal for a source table: "NEW" + name + ".DB".
std::string newTableNameFor(std::string_view sourceTable);

//! The INSERT script name for a table chosen at hh:mm:ss: the temporary directory (with
//! its trailing separator), the table, "_", hhmmss and "_INSERTS.SQL".
std::string exportFileName(std::string_view tempDirWithSeparator, std::string_view table, int hour,
                           int minute, int second);

//! The table name inside a file name: for a name the export gives its scripts
//! (TABLE_hhmmss_INSERTS.SQL) the table, underscores and all; otherwise the text between
//! the last path separator and the first underscore after it; empty without a separator or
//! without such an underscore.
std::string TableNameFromFile(std::string_view fileName);

//! A file picker's result: the directory, a separator and the file name; no separator is
//! added after the root directory.
std::string joinPickerPath(std::string_view directory, std::string_view fileName);

} // namespace fieldsmith::run
