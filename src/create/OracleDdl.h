// The SQL that makes a table's copy in an Oracle schema: the names of the table, its
// columns, its primary-key constraint and its indexes, the column types, and the statement
// texts, each executed and committed on its own.
#pragma once

#include "engine/FieldDef.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::oraclient {
class OracleQuery;
class OracleSession;
} // namespace fieldsmith::oraclient

namespace fieldsmith::create {

//! The text before the last dot; a name without a dot comes back unchanged (A.B.DB → A.B).
std::string NameWithoutExtension(std::string_view name);

//! A field name as a column name: hyphens become underscores; the reserved words DATE,
//! USER, TIME, FROM, TO, COUNT, POSITION, LEFT, LEVEL and MODULE (whole names, any case)
//! become the word without its last letter and "_" (DAT_, USE_, ...).
std::string MakeOracleColumnName(std::string_view fieldName);

//! "VARCHAR2", "FLOAT", "DATE" or "CLOB" for the types that have one; empty for the others.
std::string OracleTypeFor(engine::FieldType type);

//! A column's type as the CREATE TABLE statement writes it: the type and, for VARCHAR2,
//! the length part "(size)". Types without a mapping of their own: BCD is NUMBER (exact
//! decimals), byte and OLE fields are BLOB, Word and Currency are FLOAT (numbers, not
//! text), Time is VARCHAR2(20) (Oracle has no time of day without a date; the text keeps
//! what the table shows). Binary blobs (blob, graphic, formatted memo) are BLOB rather
//! than CLOB: their bytes are not text in any code page and would not survive one.
//! Nothing for a type that has no column type (ftUnknown).
struct OracleColumnType {
    std::string type;   //!< "VARCHAR2", "FLOAT", ...
    std::string length; //!< "(30)" for VARCHAR2, else empty
};
std::optional<OracleColumnType> oracleColumnTypeFor(const engine::FieldDef& field);

//! The CREATE TABLE statement as its lines, for owner.table (table: the Oracle table name).
//! The primary key is made of the required fields; none when no field is required. Throws
//! std::runtime_error naming a field whose type has no column type.
std::vector<std::string> createTableLines(const std::string& owner, const std::string& table,
                                          const std::vector<engine::FieldDef>& fields);

//! The columns of the primary key constraint, "A, B": those of the required fields.
std::string primaryKeyColumns(const std::vector<engine::FieldDef>& fields);
//! The columns of an index over the fields "A;B;..." (at most 11 of them), "A, B".
std::string indexColumns(std::string_view indexFields);

//! The one-line CREATE INDEX statement of the j-th index over the fields "A;B;..." (at
//! most 11 of them).
std::string createIndexLine(const std::string& owner, const std::string& table, int j,
                            std::string_view indexFields);

//! Runs one statement on a dataset of the session: SQL text, open, commit, close. Errors
//! are the client layer's OracleError.
void executeStatement(oraclient::OracleSession& session, oraclient::OracleQuery& query,
                      const std::vector<std::string>& lines);

//! DROP TABLE of the qualified name, through a dataset of its own; errors go to the caller.
void DropOracleTable(oraclient::OracleSession& session, const std::string& qualifiedName);

//! Whether the qualified table exists: a query on it runs (true) or fails with ORA-00942
//! (false). Nothing when the query fails otherwise, for a name that is no table name.
std::optional<bool> oracleTableExists(oraclient::OracleSession& session,
                                      const std::string& qualifiedName);

} // namespace fieldsmith::create
