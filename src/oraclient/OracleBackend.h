// The interface between the Oracle session and the database behind it: the embedded
// SQLite backend or a PostgreSQL server (PgBackend.h). The session converts text and formats;
// a backend takes Oracle SQL in UTF-8 and answers with typed values.
#pragma once

#include "OracleValue.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fieldsmith::engine {
struct FormatSettings;
}

namespace fieldsmith::oraclient {

enum class ConnectAs { Normal, SysDba, SysOper };

struct LogonRequest {
    std::string username;
    std::string password;
    std::string database;
    ConnectAs connectAs = ConnectAs::Normal;
};

//! What a statement was, for the feedback of the script runner.
enum class StatementKind {
    Query,
    Insert,
    Update,
    Delete,
    CreateTable,
    DropTable,
    TruncateTable,
    CreateIndex,
    DropIndex,
    Commit,
    Rollback,
    Block, //!< an anonymous PL/SQL block or a procedure call
};

struct StatementResult {
    StatementKind kind = StatementKind::Query;
    std::vector<ColumnInfo> columns;            //!< queries only
    std::vector<std::vector<OracleValue>> rows; //!< queries only: every row
    std::int64_t rowsAffected = 0;              //!< INSERT, UPDATE, DELETE
    std::string rowId;                          //!< INSERT of one row: the new row's ROWID
};

//! The rows of a query fetched one at a time, in the result's order, so that a result of
//! any size passes through without being held. A statement that is no query gives a
//! cursor without rows and its kind and count.
class OracleCursor {
public:
    virtual ~OracleCursor() = default;
    //! The next row into row; false after the last one. Throws OracleError.
    virtual bool fetch(std::vector<OracleValue>& row) = 0;

    StatementKind kind = StatementKind::Query;
    std::vector<ColumnInfo> columns;
    std::int64_t rowsAffected = 0;
};

//! A named text argument of a stored-procedure call.
using NamedArgument = std::pair<std::string, std::string>;

class OracleBackend {
public:
    virtual ~OracleBackend() = default;

    //! Runs one statement (no trailing ";" needed) with values for its ":name" or ":1"
    //! placeholders, in the order the placeholders first appear. Queries fetch all rows.
    //! Changes stay in the open transaction; DDL commits it first, as Oracle does.
    virtual StatementResult execute(const std::string& sql,
                                    const std::vector<OracleValue>& binds) = 0;
    //! Runs one statement as execute does, but hands a query's rows out one at a time. The
    //! cursor must be released before the backend. This default fetches every row first.
    virtual std::unique_ptr<OracleCursor> openCursor(const std::string& sql,
                                                     const std::vector<OracleValue>& binds);
    //! Runs a statement without rows once for each row of binds, in order, as execute()
    //! would; written counts the rows done. A failing row throws its error with the rows
    //! before it done and the rows after it not. A backend may write many rows with one
    //! statement; this default runs one per row.
    virtual void executeMany(const std::string& sql,
                             const std::vector<std::vector<OracleValue>>& rows, std::size_t& written);
    virtual void commit() = 0;
    virtual void rollback() = 0;
    //! Calls a stored procedure ("sys.dbms_application_info.set_client_info") with
    //! arguments passed by name.
    virtual void callProcedure(const std::string& name, const std::vector<NamedArgument>& args) = 0;
    //! The formats in which text meets DATE and NUMBER columns inside SQL (implicit
    //! conversion, TO_DATE without a format), as the session's NLS settings.
    virtual void setFormats(const engine::FormatSettings& formats) = 0;
    //! The name of the schema the session is logged on to, in upper case.
    virtual std::string schemaName() const = 0;
};

//! Connects to the database named in the request, as oracle.ini in configDir describes
//! it, and checks the password. Throws OracleError (ORA-12154 for an unknown database,
//! ORA-01017 for a wrong user name or password).
std::unique_ptr<OracleBackend> connectBackend(const std::filesystem::path& configDir,
                                              const LogonRequest& request);

} // namespace fieldsmith::oraclient
