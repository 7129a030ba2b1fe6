// The script runner: how lines become statements, commands and no-ops, what it reports,
// and that a failing statement does not stop it or commit anything.
#include "OracleTestSupport.h"

#include "oraclient/OracleQuery.h"
#include "oraclient/OracleScript.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace fieldsmith;
using namespace fieldsmith::oraclient;

namespace {

// Every case runs on the embedded backend and on the PostgreSQL test server.
class Script : public ::testing::TestWithParam<oratest::Backend>, public oratest::OracleFixture {
protected:
    Script() : OracleFixture(GetParam()) {}
    void SetUp() override {
        if (!unavailable().empty()) GTEST_SKIP() << unavailable();
        session = logOn();
        run(*session, {"CREATE TABLE T (ID NUMBER, S VARCHAR2(100))"});
    }

    std::vector<std::string> execute(const std::vector<std::string>& lines) {
        OracleScript script(*session);
        script.lines() = lines;
        std::vector<std::string> out;
        script.setOutputHandler([&](const std::string& text) { out.push_back(text); });
        summary = script.execute();
        return out;
    }
    std::vector<std::string> rows(const std::string& sql = "SELECT ID, S FROM T ORDER BY ID") {
        OracleQuery q(*session);
        q.setSql(sql);
        q.open();
        std::vector<std::string> out;
        for (q.first(); !q.eof(); q.next())
            out.push_back(q.fieldText(0) + ":" + q.fieldText(1));
        return out;
    }

    std::unique_ptr<OracleSession> session;
    ScriptSummary summary;
};

TEST_P(Script, SplitsStatementsBlocksAndCommands) {
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        std::vector<std::string> rows; //!< of T afterwards
        int statements, failed, commands;
    };
    const Case cases[] = {
        {"statements end with ; at a line end",
         {"INSERT INTO T VALUES (1, 'a');", "INSERT INTO T", "VALUES (2, 'b') ;  "},
         {"1:a", "2:b"},
         2,
         0,
         0},
        {"a ; inside a line does not end it",
         {"INSERT INTO T VALUES (1, 'x;y')", ";"},
         {"1:x;y"},
         1,
         0,
         0},
        {"a / after a terminated statement is a reported no-op",
         {"INSERT INTO T VALUES (1, 'a');", "/ ", "COMMIT; ", "/ "},
         {"1:a"},
         2,
         0,
         2},
        {"a / line ends a statement without ;",
         {"INSERT INTO T VALUES (7, 'slash')", "/"},
         {"7:slash"},
         1,
         0,
         0},
        {"; at a line end inside a literal",
         {"INSERT INTO T VALUES (1, 'one;", "two');"},
         {"1:one;\r\ntwo"},
         1,
         0,
         0},
        {"/ line inside a literal",
         {"INSERT INTO T VALUES (1, 'one", "/", "two');"},
         {"1:one\r\n/\r\ntwo"},
         1,
         0,
         0},
        {"comments",
         {"-- a comment;", "/* a block", "comment; */",
          "INSERT INTO T /* ; */ VALUES (1, 'c'); -- done",
          "INSERT INTO T VALUES (2, '--not a comment');"},
         {"1:c", "2:--not a comment"},
         2,
         0,
         0},
        {"SQL*Plus commands are not sent",
         {"SET ECHO ON", "PROMPT inserting;", "REM a remark;", "REMARK another", "SPOOL out.log",
          "WHENEVER SQLERROR CONTINUE", "DEFINE x = 1", "@other.sql",
          "INSERT INTO T VALUES (1, 'p');"},
         {"1:p"},
         1,
         0,
         8},
        {"a failing statement in the middle",
         {"INSERT INTO T VALUES (1, 'before');", "INSERT INTO NOWHERE VALUES (1);",
          "INSERT INTO T VALUES (2, 'after');"},
         {"1:before", "2:after"},
         3,
         1,
         0},
        {"PL/SQL blocks end with a / line",
         {"BEGIN", "  sys.dbms_application_info.set_client_info(client_info => 'x;');", "END;", "/",
          "INSERT INTO T VALUES (1, 'b');"},
         {"1:b"},
         2,
         0,
         0},
        {"EXIT ends the script",
         {"INSERT INTO T VALUES (1, 'a');", "EXIT", "INSERT INTO T VALUES (2, 'b');"},
         {"1:a"},
         1,
         0,
         1},
        {"a last statement without terminator runs",
         {"INSERT INTO T VALUES (1, 'end')"},
         {"1:end"},
         1,
         0,
         0},
    };
    for (const Case& c : cases) {
        run(*session, {"DELETE FROM T", "COMMIT"});
        execute(c.lines);
        EXPECT_EQ(rows(), c.rows) << c.what;
        EXPECT_EQ(summary.statements, c.statements) << c.what;
        EXPECT_EQ(summary.failed, c.failed) << c.what;
        EXPECT_EQ(summary.commands, c.commands) << c.what;
    }
}

TEST_P(Script, ReportsEchoFeedbackRowsAndErrors) {
    const auto out =
        execute({"INSERT INTO T VALUES (1, 'O''Neil');", "/ ", "COMMIT; ", "/ ",
                 "INSERT INTO MISSING VALUES (1);", "SELECT ID, S FROM T;", "UPDATE T SET S = 'x';",
                 "DELETE FROM T WHERE ID > 5;", "SET ECHO OFF", "DROP TABLE T;"});
    EXPECT_EQ(out, (std::vector<std::string>{
                       "INSERT INTO T VALUES (1, 'O''Neil');", "1 row created.", "/ ", "COMMIT; ",
                       "Commit complete.", "/ ", "INSERT INTO MISSING VALUES (1);",
                       "ORA-00942: table or view does not exist", "SELECT ID, S FROM T;", "ID\tS",
                       "1\tO'Neil", "1 row selected.", "UPDATE T SET S = 'x';", "1 row updated.",
                       "DELETE FROM T WHERE ID > 5;", "0 rows deleted.", "SET ECHO OFF",
                       "DROP TABLE T;", "Table dropped."}));
}

TEST_P(Script, CommitsOnlyWhatTheScriptCommits) {
    auto other = logOn();
    execute(
        {"INSERT INTO T VALUES (1, 'kept');", "COMMIT;", "INSERT INTO T VALUES (2, 'pending');"});
    OracleQuery q(*other);
    q.setSql("SELECT COUNT(*) FROM T");
    q.open();
    EXPECT_EQ(q.fieldText(0), "1");
    session->rollback();
    EXPECT_EQ(rows(), std::vector<std::string>{"1:kept"});
}

TEST_P(Script, ReadsFilesStatementByStatement) {
    const auto file = dir / "EMP_INSERTS.SQL";
    {
        std::ofstream out(file, std::ios::binary);
        for (int i = 1; i <= 3; ++i)
            out << "INSERT INTO SCOTT.T  ( ID, S )  VALUES (" << i
                << ", 'line\r\nbreak' );\r\n/ \r\nCOMMIT; \r\n/ \r\n";
    }
    OracleScript script(*session);
    script.loadFromFile(file);
    const ScriptSummary s = script.execute();
    EXPECT_EQ(s.statements, 6);
    EXPECT_EQ(s.failed, 0);
    EXPECT_EQ(s.commands, 6);
    EXPECT_EQ(rows(),
              (std::vector<std::string>{"1:line\r\nbreak", "2:line\r\nbreak", "3:line\r\nbreak"}));
    EXPECT_THROW(script.loadFromFile(dir / "missing.sql"), std::runtime_error);
}

} // namespace

INSTANTIATE_TEST_SUITE_P(On, Script,
                         ::testing::Values(oratest::Backend::Embedded, oratest::Backend::Postgres),
                         [](const auto& info) { return oratest::backendName(info.param); });
