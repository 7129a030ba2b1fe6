// The PostgreSQL backend of the SQL table driver, through libpq: a server named
// "host[:port]/database" by the alias, a user, and a password from the client's own means
// (PGPASSWORD, ~/.pgpass) or asked for once.
#pragma once

#include "SqlBackend.h"

#include <functional>
#include <optional>

struct pg_conn;
struct pg_result;

namespace fieldsmith::engine::sql {

class PostgresBackend final : public SqlBackend {
public:
    using PasswordSource = std::function<std::optional<std::string>()>;
    //! serverName: "host[:port]/database" (a host starting with "/" is a socket directory).
    PostgresBackend(const std::string& serverName, const std::string& user,
                    const PasswordSource& password);
    ~PostgresBackend() override;

    std::vector<std::string> tableNames() override;
    SqlTableShape describe(const std::string& table) override;
    std::unique_ptr<SqlStatement> prepare(const std::string& sql) override;
    std::unique_ptr<SqlStatement> prepareBatch(const std::string& sql) override;
    void execute(const std::string& sql) override;
    bool remote() const override { return true; }
    void change(SqlStatement& st, const std::vector<SqlValue>& params, std::string_view record,
                bool mustFindRow) override;
    void changeNow(SqlStatement& st, const std::vector<SqlValue>& params) override;
    void begin() override;
    bool beginWrite(const std::string& table) override;
    bool lockExclusive(const std::string& table) override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override { return inTransaction_; }
    bool changedByOthers() override { return true; }
    std::string quote(std::string_view identifier) const override;
    std::string rowIdColumn() const override { return "ctid"; }
    std::string rowIdParameter() const override { return "?::tid"; }
    std::string selectColumn(const SqlColumn& column) const override;
    std::string rowsIn(const std::string& columns, std::size_t width, std::size_t n) const override;
    std::string columnTypeFor(const FieldDef& field) const override;
    std::vector<std::pair<std::string, std::string>>
    indexStatements(const std::string& table) override;
    std::string dropPrimaryKey(const std::string& table) override;
    std::string addPrimaryKey(const std::string& table,
                              const std::vector<std::string>& columns) override;
    std::string description() const override { return "PostgreSQL database " + server_; }

    pg_conn* connection() { return conn_; }
    //! Settles the changes sent ahead and finishes what a statement left unread on the
    //! connection, so that the next statement can run. Throws the first failed change.
    void drain();
    //! The error of the connection or of a result, as an EngineError of the right kind.
    [[noreturn]] void raise(const std::string& what, const void* result) const;

private:
    bool lockTable(const std::string& table, const char* mode);
    //! Reads the results of the changes sent ahead; a failed one is undone to its savepoint
    //! (with those sent after it) and thrown.
    void settle();
    void releaseSavepoint();
    //! Runs a statement while changes may be in flight: for destructors, never throws.
    void executeQuietly(const char* sql);

    //! A change sent ahead in pipeline mode, kept to be made again after a failed one.
    struct Pending {
        std::string record; //!< its identity, named only in a report
        bool mustFindRow = false;
        std::string statement;
        std::vector<SqlValue> params;
    };
    bool send(const Pending& p);
    static void bind(const std::vector<SqlValue>& params, std::vector<const char*>& values,
                     std::vector<int>& lengths, std::vector<int>& formats,
                     std::vector<std::string>& numbers);

    std::string server_;
    pg_conn* conn_ = nullptr;
    bool inTransaction_ = false;
    int nextName_ = 0;
    std::vector<Pending> pending_;
    bool savepointHeld_ = false; //!< a changeNow's savepoint, released before what follows
    std::vector<std::string> unusedStatements_; //!< deallocated once the pipeline is idle
    friend class PostgresStatement;
};

//! The "?" of a statement as PostgreSQL's "$1", "$2", ...; question marks in quotes stay.
std::string numberParameters(const std::string& sql);

//! Splits "host[:port]/database": the database after the last slash, a port after the last
//! colon when only digits follow it.
void splitServerName(const std::string& server, std::string& host, std::string& port, std::string& db);

//! How the results of a pipeline ended: read up to its sync (ok), or the connection failed.
//! The first failed query's result is kept (the caller clears it) with its part, the
//! number of the query in the order sent; the queries after it come back aborted.
struct PipelineEnd {
    bool ok = true;
    pg_result* failed = nullptr;
    std::size_t failedAt = 0;
};
//! Reads the results of a pipeline whose sync was sent, handing the others to result()
//! with their part before it clears them.
PipelineEnd readPipeline(pg_conn* conn,
                         const std::function<void(std::size_t part, pg_result* r)>& result = {});

//! Whether a PostgreSQL server ("host[:port]/database") accepts connections, without
//! logging on: empty when it does, else the reason.
std::string pingServer(const std::string& serverName);

} // namespace fieldsmith::engine::sql
