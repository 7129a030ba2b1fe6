// The embedded backend: an Oracle database kept as SQLite files, one per schema (user),
// in the directory that oracle.ini names. Oracle SQL is translated where SQLite differs;
// errors come back as Oracle errors. Used through OracleBackend only.
#pragma once

#include "BackendSupport.h"
#include "EmbeddedUsers.h"
#include "OracleBackend.h"
#include "OracleConfig.h"
#include "SqlLexer.h"
#include "engine/FormatSettings.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace fieldsmith::oraclient {

//! An Oracle statement made ready for SQLite.
struct Translation {
    StatementKind kind = StatementKind::Query;
    //! The SQLite statements to run in order; the last one gives the result.
    std::vector<std::string> statements;
    //! Placeholder names in order of first appearance; ?1, ?2, ... in the statements.
    std::vector<std::string> bindNames;
    bool ddl = false;    //!< commits first and runs as a transaction of its own
    bool writes = false; //!< opens the session's transaction when none is open
    //! The attached schemas the statement names; no other may be touched.
    std::set<std::string> schemas;
    std::string targetSchema; //!< DML and DDL: the schema (attach name) of the table
    std::string targetTable;
    //! Queries: what the select items are known to hold, from the front of the list up to
    //! a "*" item, and from its end back to one.
    std::vector<ColumnKind> leadingHints, trailingHints;
    bool hasStar = false;
    //! Blocks: the procedure calls, each with its arguments by name or by position (""),
    //! and the data changes in between (no name; the one argument holds the SQL).
    ProcedureCalls calls;
    //! An INSERT that ends in its one VALUES list, every placeholder in that list: its
    //! tokens and where the list begins (0 for any other statement), so that one statement
    //! can take the values of many rows.
    std::vector<SqlToken> insertTokens;
    std::size_t valuesAt = 0;
};

class SqliteBackend final : public OracleBackend {
public:
    //! Opens the user's schema and attaches the others; the password is checked before.
    SqliteBackend(const OracleDatabaseEntry& database, const std::string& user);
    ~SqliteBackend() override;

    StatementResult execute(const std::string& sql, const std::vector<OracleValue>& binds) override;
    //! Queries step a statement of their own as rows are fetched; others run as execute.
    std::unique_ptr<OracleCursor> openCursor(const std::string& sql,
                                             const std::vector<OracleValue>& binds) override;
    //! An INSERT ... VALUES (...) runs as one statement of many rows' values at a time: one
    //! statement per row costs SQLite its setup for every row.
    void executeMany(const std::string& sql, const std::vector<std::vector<OracleValue>>& rows,
                     std::size_t& written) override;
    void commit() override;
    void rollback() override;
    void callProcedure(const std::string& name, const std::vector<NamedArgument>& args) override;
    void setFormats(const engine::FormatSettings& formats) override { formats_ = formats; }
    std::string schemaName() const override { return user_; }

    // --- for the SQL functions
    const engine::FormatSettings& formats() const { return formats_; }
    const std::string& clientInfo() const { return clientInfo_; }
    const std::string& databaseName() const { return database_.name; }

private:
    struct Cached {
        Translation translation;
        sqlite3_stmt* stmt = nullptr;
    };
    class Cursor;
    friend int authorize(void*, int, const char*, const char*, const char*, const char*);

    // translation (SqliteTranslate.cpp)
    Translation translate(const std::string& sql);
    void translateQueryOrDml(std::vector<SqlToken>& tokens, Translation& tr);
    void translateCreateTable(const std::vector<SqlToken>& tokens, Translation& tr);
    void translateCreateIndex(const std::vector<SqlToken>& tokens, Translation& tr);
    void rewriteExpressions(std::vector<SqlToken>& tokens, std::size_t from, std::size_t to,
                            Translation& tr);
    void wrapTargetValues(std::vector<SqlToken>& tokens, std::size_t afterTarget, Translation& tr);
    //! [owner.]name at pos: the attach name of its schema and the object's name.
    std::pair<std::string, std::string> objectName(const std::vector<SqlToken>& tokens,
                                                   std::size_t& pos, bool creating,
                                                   Translation& tr);
    //! The attach name of an owner: "main" for the session's user; ORA-00942 or ORA-01918
    //! (when creating) for a name that is no user.
    std::string schemaOf(const std::string& owner, bool creating);
    //! The columns of a table and their Oracle types; empty when it does not exist.
    std::vector<ColumnInfo> tableColumns(const std::string& schema, const std::string& table);

    //! Whether a name is a user of the database; the list is read again only for a name
    //! it does not know, so that translating a statement rarely touches users.ini.
    bool isUser(const std::string& name);

    // running (SqliteBackend.cpp)
    void attachSchemas();
    bool attach(const std::string& user);
    void exec(const std::string& sql);
    void beginIfNeeded();
    bool inTransaction() const;
    void prepare(Cached& c, const std::string& sql);
    StatementResult run(Cached& c, const std::vector<OracleValue>& binds);
    //! Binds the values and describes the result's columns (with the kinds to read by).
    //! held: the values outlive the statement's run, so SQLite keeps no copies.
    void bindAndDescribe(Cached& c, const std::vector<OracleValue>& binds,
                         std::vector<ColumnInfo>& columns, std::vector<ColumnKind>& kinds,
                         bool held);
    StatementResult runDdl(const Translation& tr);
    [[noreturn]] void fail(int rc, const Translation* tr);
    std::string uniqueConstraintName(const std::string& schema, const std::string& table,
                                     const std::string& columns);

    OracleDatabaseEntry database_;
    EmbeddedUsers users_;
    std::string user_;
    sqlite3* db_ = nullptr;
    std::set<std::string> attached_;
    std::set<std::string> knownUsers_;
    engine::FormatSettings formats_;
    std::string clientInfo_, module_, action_;
    std::unordered_map<std::string, std::unique_ptr<Cached>> cache_;
    //! Columns of the tables that statements named, by "schema.table": a script of many
    //! INSERTs asks for the same table's columns each time. Forgotten after DDL and errors.
    std::unordered_map<std::string, std::vector<ColumnInfo>> columnCache_;
    //! The schemas the statement being prepared may touch; null while the backend runs its
    //! own statements.
    const std::set<std::string>* allowed_ = nullptr;
    int denied_ = 0; //!< the ORA code of the last refusal by the authorizer
};

//! Registers the Oracle functions (NVL, TO_DATE, TO_CHAR, TO_NUMBER, SYS_CONTEXT) and the
//! backend's own helpers on a connection (SqliteFunctions.cpp).
void registerOracleFunctions(sqlite3* db, SqliteBackend* backend);

//! The value conversion that INSERT and UPDATE apply to values for NUMBER and DATE
//! columns, as Oracle converts text implicitly with the session's formats.
enum class ImplicitTarget { Number = 1, Date = 2, Timestamp = 3 };

} // namespace fieldsmith::oraclient
