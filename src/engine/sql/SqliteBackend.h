// The SQLite backend of the SQL table driver: a database file named by the alias.
#pragma once

#include "SqlBackend.h"

#include <filesystem>

struct sqlite3;

namespace fieldsmith::engine::sql {

class SqliteBackend final : public SqlBackend {
public:
    //! Opens (or creates) the database file.
    explicit SqliteBackend(const std::filesystem::path& file);
    ~SqliteBackend() override;

    std::vector<std::string> tableNames() override;
    SqlTableShape describe(const std::string& table) override;
    std::unique_ptr<SqlStatement> prepare(const std::string& sql) override;
    void execute(const std::string& sql) override;
    void begin() override;
    bool beginWrite(const std::string& table) override;
    bool lockExclusive(const std::string& table) override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override { return inTransaction_; }
    bool changedByOthers() override;
    std::string quote(std::string_view identifier) const override;
    std::string rowIdColumn() const override { return "rowid"; }
    std::string rowIdParameter() const override { return "?"; }
    std::string caseInsensitiveColumn(const std::string& quoted) const override {
        return quoted + " COLLATE NOCASE";
    }
    std::string columnTypeFor(const FieldDef& field) const override;
    std::vector<std::pair<std::string, std::string>>
    indexStatements(const std::string& table) override;
    std::string dropPrimaryKey(const std::string& table) override;
    std::string addPrimaryKey(const std::string& table,
                              const std::vector<std::string>& columns) override;
    std::string description() const override;

private:
    std::int64_t readDataVersion();
    void useWriteAheadLog();
    void giveJournalBack();

    std::filesystem::path file_;
    sqlite3* db_ = nullptr;
    bool inTransaction_ = false;
    std::int64_t dataVersion_ = 0;
    std::string journalKey_; //!< the database among those whose journal this program set
};

} // namespace fieldsmith::engine::sql
