#include "OracleTestSupport.h"

#include "oraclient/EmbeddedUsers.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleQuery.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace fieldsmith::oratest {

using namespace oraclient;

OracleFixture::OracleFixture() {
    const auto entry = ensureEmbeddedDatabase(dir.path(), "ORA");
    EmbeddedUsers users(entry.path);
    users.add("scott", "tiger");
    users.add("SALES", "s3cret");
}

std::filesystem::path OracleFixture::databaseDir() const {
    return dir.path() / "oracle" / "ORA";
}

std::unique_ptr<OracleSession> OracleFixture::logOn(const std::string& user,
                                                    const std::string& password) {
    auto session = std::make_unique<OracleSession>(dir.path());
    session->setLogonUsername(user);
    session->setLogonPassword(password);
    session->setLogonDatabase("ORA");
    session->logOn();
    return session;
}

void OracleFixture::run(OracleSession& session, const std::vector<std::string>& statements) {
    for (const auto& sql : statements) {
        try {
            OracleQuery q(session);
            q.setSql(sql);
            q.open();
        } catch (const OracleError& e) {
            ADD_FAILURE() << sql << ": " << e.what();
        }
    }
}

std::vector<std::string> sqliteRows(const std::filesystem::path& file, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << file;
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
    } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                if (i) row += '|';
                if (sqlite3_column_type(st, i) == SQLITE_NULL) {
                    row += "NULL";
                } else {
                    const auto* p = static_cast<const char*>(sqlite3_column_blob(st, i));
                    row.append(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
                }
            }
            rows.push_back(row);
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

} // namespace fieldsmith::oratest
