// The PostgreSQL backend: an Oracle database kept on a PostgreSQL server that oracle.ini
// names (TYPE=POSTGRESQL, SERVER NAME=host[:port]/database). A logon is a role of the
// server; each user's tables live in the schema of the user's name. Oracle SQL is
// rewritten where PostgreSQL differs, Oracle column types are mapped to PostgreSQL types,
// and errors come back as Oracle errors. Used through OracleBackend only.
//
// Names: an Oracle name in upper case (SCOTT, ITEMS) is the PostgreSQL name in lower case
// (scott, items), so that unquoted names mean the same on both sides; a quoted name with
// lower-case letters is kept as written.
//
// ROWID: every table created through this backend gets a column ora$rowid, an identity
// that is never reused and stays with its row through updates. ROWID in SQL means that
// column; "*" leaves it out. A table made by other means has no ROWID (ORA-00904).
#pragma once

#include "OracleBackend.h"
#include "OracleConfig.h"
#include "SqlLexer.h"
#include "engine/FormatSettings.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace fieldsmith::oraclient {

class PgBackend final : public OracleBackend {
public:
    //! Connects as the user's role with the password; ORA-01017 when the server refuses
    //! them, ORA-12154 for a database the server does not have, ORA-12541 when the server
    //! cannot be reached.
    PgBackend(const OracleDatabaseEntry& database, const std::string& user,
              const std::string& password);
    ~PgBackend() override;

    StatementResult execute(const std::string& sql, const std::vector<OracleValue>& binds) override;
    void executeMany(const std::string& sql, const std::vector<std::vector<OracleValue>>& rows,
                     std::size_t& written) override;
    //! Queries run as a server-side cursor fetched in batches, so that a result of any size
    //! passes through; others run as execute.
    std::unique_ptr<OracleCursor> openCursor(const std::string& sql,
                                             const std::vector<OracleValue>& binds) override;
    void commit() override;
    void rollback() override;
    void callProcedure(const std::string& name, const std::vector<NamedArgument>& args) override;
    void setFormats(const engine::FormatSettings& formats) override { formats_ = formats; }
    std::string schemaName() const override { return user_; }

    //! The PostgreSQL name of an Oracle identifier (see above).
    static std::string pgName(const std::string& oracleName);
    //! The Oracle name of a PostgreSQL identifier.
    static std::string oracleName(const std::string& pgName);
    //! The PostgreSQL column type for an Oracle type.
    static std::string pgTypeFor(const OracleType& type);

    //! One statement made ready for PostgreSQL.
    struct Translation {
        StatementKind kind = StatementKind::Query;
        std::string sql;
        std::size_t bindCount = 0;
        bool ddl = false;
        std::string targetSchema, targetTable; //!< PostgreSQL names
        bool returnsRowId = false;             //!< an INSERT that hands back ora$rowid
        //! Placeholders (0-based) that stand for values of NUMBER or DATE columns: text
        //! given for them is converted with the session's formats.
        std::vector<std::pair<std::size_t, ColumnKind>> implicitBinds;
        std::vector<std::pair<std::string, std::vector<NamedArgument>>> calls;
    };
    //! Translates a statement (public for the tests of the translation).
    Translation translate(const std::string& sql);

private:
    class Cursor;
    struct Column {
        std::string name; //!< PostgreSQL name
        std::string type; //!< as format_type gives it
    };
    void rewrite(std::vector<SqlToken>& t, Translation& tr);
    std::string expandStars(std::vector<SqlToken>& t);
    void convertTargetValues(std::vector<SqlToken>& t, std::size_t afterTarget, Translation& tr);
    void translateCreateTable(const std::vector<SqlToken>& t, Translation& tr);
    //! [owner.]name at pos as PostgreSQL schema and name.
    std::pair<std::string, std::string> objectName(const std::vector<SqlToken>& t,
                                                   std::size_t& pos);
    const std::vector<Column>& tableColumns(const std::string& schema, const std::string& table);
    bool hasRowId(const std::string& schema, const std::string& table);

    //! Values as libpq takes them: texts, null pointers, and bytea in binary. The pointers
    //! point into the texts: the object stays where it was made.
    struct BoundValues {
        explicit BoundValues(const std::vector<OracleValue>& binds);
        BoundValues(const BoundValues&) = delete;
        BoundValues& operator=(const BoundValues&) = delete;
        std::vector<std::string> texts;
        std::vector<const char*> values;
        std::vector<unsigned> types;
        std::vector<int> lengths, formats;
    };
    bool convertImplicit(const Translation& tr, const std::vector<OracleValue>& binds,
                         std::vector<OracleValue>& converted) const;
    //! Runs a statement. In a transaction that was open before it, a savepoint keeps an
    //! error from undoing more than the statement; set fresh when the statement opened the
    //! transaction itself, which an error then rolls back.
    pg_result* run(const std::string& sql, const std::vector<OracleValue>& binds,
                   const Translation* tr, bool fresh = false);
    void runPlain(const char* sql);
    //! Describes a result's columns: Oracle names and types, and the kinds to read by.
    static void describe(pg_result* r, std::vector<ColumnInfo>& columns,
                         std::vector<ColumnKind>& kinds, std::vector<unsigned>& oids);
    //! Appends the rows of a result.
    static void readRows(pg_result* r, const std::vector<ColumnKind>& kinds,
                         const std::vector<unsigned>& oids,
                         std::vector<std::vector<OracleValue>>& rows);
    bool inTransaction() const;
    [[noreturn]] void fail(pg_result* r, const Translation* tr);

    OracleDatabaseEntry database_;
    std::string user_;   //!< Oracle name, upper case
    std::string schema_; //!< PostgreSQL schema of the user
    pg_conn* conn_ = nullptr;
    engine::FormatSettings formats_;
    std::string clientInfo_, module_, action_;
    std::string serverZone_; //!< the server's time zone, for SYSDATE
    std::map<std::string, std::vector<Column>> columnCache_;
    int cursors_ = 0; //!< for the names of server-side cursors
};

} // namespace fieldsmith::oraclient
