// The Run of the ORACLE Import/Export page against the embedded backend: the export's
// file, the import's rows and log, a round trip of every tricky value, and batch mode.
#include "oracle/OracleExchange.h"
#include "oracle/OracleLogonSource.h"

#include "OracleTestSupport.h"
#include "app/run/BatchRun.h"
#include "app/run/ConsoleHost.h"
#include "app/run/Operations.h"
#include "app/run/TestHost.h"
#include "engine/FormatSettings.h"
#include "engine/Session.h"
#include "oraclient/OracleQuery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fieldsmith::oracle {
namespace {

using oraclient::OracleQuery;
using oraclient::OracleValue;

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

std::vector<std::string> splitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

// A value as a test can compare it: its kind and content.
std::string describe(const OracleValue& v) {
    switch (v.kind) {
    case oraclient::ValueKind::Null:
        return "null";
    case oraclient::ValueKind::Integer:
        return "int:" + std::to_string(v.whole);
    case oraclient::ValueKind::Float: {
        std::ostringstream s;
        s.precision(17);
        s << "float:" << v.real;
        return s.str();
    }
    case oraclient::ValueKind::Date:
        return "date:" + std::to_string(v.whole);
    default:
        // A long text by its length, ends and a checksum, so a failure stays readable.
        if (v.text.size() > 200) {
            std::size_t sum = 0;
            for (unsigned char c : v.text)
                sum = sum * 31 + c;
            return "text[" + std::to_string(v.text.size()) + "]:" + v.text.substr(0, 10) + "..." +
                   v.text.substr(v.text.size() - 10) + "#" + std::to_string(sum);
        }
        return "text:" + v.text;
    }
}

std::int64_t march5() {
    return *engine::parseDate("2007-03-05", engine::FormatSettings{}) * 86400000;
}

class OracleExchange : public ::testing::Test {
protected:
    explicit OracleExchange(oratest::Backend backend = oratest::Backend::Embedded)
        : ora(backend), logon(ora.configDir().string(), "SCOTT", "tiger") {
        shared.oracleLogon = &logon;
        logon.session().setFormats(engine::FormatSettings::german());
        auto& in = inputs.ExportSeite;
        in.ExportAlias = "ORA";
        in.ExportTab = "EMP";
        in.ExportTabOwnerEdit = "SCOTT";
        in.ExportFileEdit = (ora.dir / "EMP_140509_INSERTS.SQL").string();
        in.LogFileEdit = in.ExportFileEdit + "_import.log";
    }

    oraclient::OracleSession& session() {
        auto* s = logon.EnsureOracleLogon(host, "ORA");
        EXPECT_NE(s, nullptr);
        return *s;
    }
    void sql(const std::vector<std::string>& statements) {
        oratest::OracleFixture::run(session(), statements);
    }
    //! Every row of a query, each as its described values joined by "|".
    std::vector<std::string> rows(const std::string& query) {
        OracleQuery q(session());
        q.setSql(query);
        q.open();
        std::vector<std::string> out;
        for (; !q.eof(); q.next()) {
            std::string row;
            for (int i = 0; i < q.fieldCount(); ++i)
                row += (i ? "|" : "") + describe(q.value(i));
            out.push_back(row);
        }
        return out;
    }
    void exportRun() {
        inputs.ExportSeite.ExportSelect = true;
        inputs.ExportSeite.ImportSelect = false;
        run::RunContext context{host, engineSession, inputs, shared};
        ExportOracleInserts(context);
    }
    void importRun() {
        inputs.ExportSeite.ExportSelect = false;
        inputs.ExportSeite.ImportSelect = true;
        run::RunContext context{host, engineSession, inputs, shared};
        ImportOracleScript(context);
    }
    void makeEmp() {
        sql({"CREATE TABLE EMP (EMPNO NUMBER(4) PRIMARY KEY, ENAME VARCHAR2(10))",
             "INSERT INTO EMP VALUES (7369, 'SMITH')", "INSERT INTO EMP VALUES (7499, 'ALLEN')",
             "INSERT INTO EMP VALUES (7521, 'WARD')", "COMMIT"});
    }
    std::filesystem::path scriptFile() const { return inputs.ExportSeite.ExportFileEdit; }
    std::filesystem::path logFile() const { return inputs.ExportSeite.LogFileEdit; }

    oratest::OracleFixture ora;
    FixedOracleLogon logon;
    engine::Session engineSession;
    run::TestHost host;
    run::PageInputs inputs;
    run::SharedState shared{engineSession};
};

TEST_F(OracleExchange, ExportWritesFourLinesPerRowWithCrLf) {
    makeEmp();
    exportRun();
    EXPECT_TRUE(host.messages.empty()) << host.messages[0].text;
    const std::string row = "INSERT INTO SCOTT.EMP  ( EMPNO, ENAME )  VALUES (";
    EXPECT_EQ(readFile(scriptFile()), row + "7369, 'SMITH' );\r\n/ \r\nCOMMIT; \r\n/ \r\n" + row +
                                          "7499, 'ALLEN' );\r\n/ \r\nCOMMIT; \r\n/ \r\n" + row +
                                          "7521, 'WARD' );\r\n/ \r\nCOMMIT; \r\n/ \r\n");
    EXPECT_EQ(host.panels[1], "3 Records of 3 copied");
    ASSERT_FALSE(host.statusDialogCounts.empty());
    EXPECT_EQ(host.statusDialogCounts.front(), "0 of (unknown) records  ");
    EXPECT_EQ(host.statusDialogCounts.back(), "3 of 3 records  ");
    EXPECT_EQ(host.events.back(), "closeStatusDialog");
}

TEST_F(OracleExchange, ExportStartAndNumberSelectRowsAndStopAtTheLastRow) {
    makeEmp();
    struct Case {
        const char *start, *number;
        std::vector<std::string> names;
    } cases[] = {
        {"", "", {"SMITH", "ALLEN", "WARD"}},
        {"", "10", {"SMITH", "ALLEN", "WARD"}}, // more than there are: each row once
        {"2", "", {"ALLEN", "WARD"}},
        {"2", "1", {"ALLEN"}},
        {"1", "2", {"SMITH", "ALLEN"}},
        {"5", "", {}},
    };
    for (const auto& c : cases) {
        inputs.ExportSeite.ExportStartRecEdit = c.start;
        inputs.ExportSeite.ExportMaxRecEdit = c.number;
        exportRun();
        std::vector<std::string> names;
        const std::regex name("'([A-Z]+)'");
        const std::string script = readFile(scriptFile());
        for (std::sregex_iterator it(script.begin(), script.end(), name), end; it != end; ++it)
            names.push_back((*it)[1]);
        EXPECT_EQ(names, c.names) << "start '" << c.start << "', number '" << c.number << "'";
        const std::string n = std::to_string(c.names.size());
        EXPECT_EQ(host.statusDialogCounts.back(),
                  c.names.empty() ? "0 of (unknown) records  " : n + " of " + n + " records  ")
            << "start '" << c.start << "', number '" << c.number << "'";
    }
}

TEST_F(OracleExchange, ExportCancelKeepsTheRowsWrittenSoFar) {
    makeEmp();
    host.statusDialogCancelAt = 3; // the breather before the walk, then after rows 1 and 2
    exportRun();
    EXPECT_EQ(splitCrLf(readFile(scriptFile())).size(), 8u);
}

TEST_F(OracleExchange, ExportChecksStopBeforeTheFileIsTouched) {
    makeEmp();
    writeFile(scriptFile(), "keep me");
    struct Case {
        void (*clear)(run::ExportSeiteInputs&);
        const char* message;
    } cases[] = {
        {[](auto& in) { in.ExportTabOwnerEdit.clear(); }, "No Table Owner specified!"},
        {[](auto& in) { in.ExportTab.clear(); }, "No Table specified!"},
        {[](auto& in) { in.ExportFileEdit.clear(); }, "No Export file specified!"},
    };
    for (const auto& c : cases) {
        run::PageInputs saved = inputs;
        c.clear(inputs.ExportSeite);
        host.messages.clear();
        exportRun();
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text, c.message);
        EXPECT_EQ(host.events.back(), "closeStatusDialog");
        inputs = saved;
    }
    EXPECT_EQ(readFile(scriptFile()), "keep me");

    inputs.ExportSeite.ExportTab = "NO_SUCH_TABLE";
    EXPECT_THROW(exportRun(), oraclient::OracleError);
    inputs.ExportSeite.ExportTab = "EMP";
    inputs.ExportSeite.ExportMaxRecEdit = "ten";
    EXPECT_THROW(exportRun(), std::exception);
    EXPECT_EQ(readFile(scriptFile()), "keep me");
    EXPECT_FALSE(std::filesystem::exists(scriptFile().string() + ".part"));
}

TEST_F(OracleExchange, EmptyTableGivesEmptyScriptAndTableNameLosesItsExtension) {
    sql({"CREATE TABLE EMP (EMPNO NUMBER(4))"});
    inputs.ExportSeite.ExportTab = "EMP.DB";
    exportRun();
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(std::filesystem::exists(scriptFile()));
    EXPECT_EQ(readFile(scriptFile()), "");
}

// The round trip on each backend the Oracle target may have.
class OracleExchangeOn : public OracleExchange,
                         public ::testing::WithParamInterface<oratest::Backend> {
protected:
    OracleExchangeOn() : OracleExchange(GetParam()) {}
    void SetUp() override {
        if (!ora.unavailable().empty()) GTEST_SKIP() << ora.unavailable();
    }
};

TEST_P(OracleExchangeOn, EveryTrickyValueSurvivesExportAndImport) {
    sql({"CREATE TABLE T (ID NUMBER(6) PRIMARY KEY, TXT VARCHAR2(200), NUM NUMBER(12,3), "
         "D DATE, MEMO CLOB)"});
    const std::string rtf("{\\rtf1\\ansi x\0y\0}", 17);
    const std::vector<std::string> texts = {
        "O'Neil",
        "a''b",
        "'quoted'",
        "one\r\ntwo",
        "one\ntwo",
        "before\n/\nafter",
        "a; b;",
        "NULL",
        "",
        "007",
        "01234",
        "1e5",
        "$1F",
        "0x1F",
        "\xe4\xf6\xfc\xdf \x80",
        "-- not a comment",
        "x\r",
        "trailing  ",
    };
    {
        OracleQuery q(session());
        q.setSql("INSERT INTO T (ID, TXT) VALUES (:1, :2)");
        for (std::size_t i = 0; i < texts.size(); ++i) {
            q.parameters() = {OracleValue::ofInteger(static_cast<std::int64_t>(i + 1)),
                              OracleValue::ofText(texts[i])};
            q.open();
        }
        q.setSql("INSERT INTO T (ID, NUM, D, MEMO) VALUES (:1, :2, :3, :4)");
        q.parameters() = {OracleValue::ofInteger(100), OracleValue::ofFloat(-1234.5),
                          OracleValue::ofDate(march5()),
                          OracleValue::ofText(std::string(100000, 'x') + "\r\n;\n/\n'")};
        q.open();
        q.parameters() = {OracleValue::ofInteger(101), OracleValue::ofInteger(-7),
                          OracleValue::ofDate(march5() + 50709000), OracleValue::ofText(rtf)};
        q.open();
        q.parameters() = {OracleValue::ofInteger(102), OracleValue::ofFloat(0.125),
                          OracleValue::null(), OracleValue::null()};
        q.open();
        session().commit();
    }
    const std::string query = "SELECT * FROM T ORDER BY ID";
    std::vector<std::string> before = rows(query);
    // What the script intends to lose: the text "NULL" and the empty text come back null.
    for (auto& row : before)
        for (const char* lost : {"|text:NULL|", "|text:|"})
            if (auto p = row.find(lost); p != std::string::npos)
                row.replace(p, std::strlen(lost), "|null|");

    inputs.ExportSeite.ExportTab = "T";
    exportRun();
    ASSERT_TRUE(host.messages.empty()) << host.messages[0].text;
    sql({"DELETE FROM T", "COMMIT"});
    ASSERT_TRUE(rows(query).empty());
    importRun();
    ASSERT_TRUE(host.messages.empty()) << host.messages[0].text;
    EXPECT_EQ(rows(query), before);

    const std::string log = readFile(logFile());
    EXPECT_EQ(log.find("ORA-"), std::string::npos) << log.substr(log.find("ORA-") == std::string::npos ? 0 : log.find("ORA-"), 300);
    std::size_t created = 0, committed = 0;
    for (std::size_t p = 0; (p = log.find("1 row created.", p)) != std::string::npos; ++p)
        ++created;
    for (std::size_t p = 0; (p = log.find("Commit complete.", p)) != std::string::npos; ++p)
        ++committed;
    EXPECT_EQ(created, texts.size() + 3);
    EXPECT_EQ(committed, texts.size() + 3);
    EXPECT_NE(log.find("INSERT INTO SCOTT.T  ( ID, TXT, NUM, D, MEMO )  VALUES (1, 'O''Neil'"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, OracleExchangeOn,
                         ::testing::Values(oratest::Backend::Embedded, oratest::Backend::Postgres),
                         [](const auto& info) { return oratest::backendName(info.param); });

TEST_F(OracleExchange, HandWrittenScriptWithTheRunnersHardCases) {
    sql({"CREATE TABLE EMP (EMPNO NUMBER(4) PRIMARY KEY, ENAME VARCHAR2(30))"});
    writeFile(scriptFile(),
              "-- a comment line\r\n"
              "/* a block\r\n   comment */\r\n"
              "SET ECHO ON\r\n"
              "PROMPT loading\r\n"
              "INSERT INTO SCOTT.EMP (EMPNO, ENAME) VALUES (1, 'semi; colon;');\r\n"
              "/\r\n"
              "COMMIT;\r\n"
              "BEGIN\r\n"
              "  INSERT INTO SCOTT.EMP (EMPNO, ENAME) VALUES (2, 'from a block');\r\n"
              "END;\r\n"
              "/\r\n"
              "INSERT INTO SCOTT.EMP (EMPNO, ENAME) VALUES (1, 'duplicate key');\r\n"
              "INSERT INTO SCOTT.NOPE (A) VALUES (1);\r\n"
              "INSERT INTO SCOTT.EMP (EMPNO, ENAME)\r\n  VALUES (3, 'two\r\n/\r\nlines');\r\n"
              "COMMIT;\r\n"
              "INSERT INTO SCOTT.EMP (EMPNO, ENAME) VALUES (4, 'never committed');\r\n");
    importRun();
    EXPECT_TRUE(host.messages.empty()) << host.messages[0].text;
    // Another session sees only what the script committed.
    auto other = ora.logOn();
    OracleQuery q(*other);
    q.setSql("SELECT EMPNO, ENAME FROM SCOTT.EMP ORDER BY EMPNO");
    q.open();
    std::vector<std::string> seen;
    for (; !q.eof(); q.next())
        seen.push_back(q.fieldText(0) + " " + q.fieldText(1));
    EXPECT_EQ(seen, (std::vector<std::string>{"1 semi; colon;", "2 from a block",
                                              "3 two\r\n/\r\nlines"}));

    const std::vector<std::string> log = splitCrLf(readFile(logFile()));
    ASSERT_GT(log.size(), 7u);
    EXPECT_EQ(log[0], std::string(47, '=') + " " + std::string(47, '='));
    EXPECT_EQ(log[1], "=====" + std::string(85, ' ') + "=====");
    EXPECT_TRUE(std::regex_match(log[2], std::regex("=====  Script processing started - Date: "
                                                    "\\d\\d\\.\\d\\d\\.\\d{4} time: "
                                                    "\\d\\d\\.\\d\\d\\.\\d\\d  =====")))
        << log[2];
    EXPECT_EQ(log[3], log[1]);
    EXPECT_EQ(log[4], log[0]);
    EXPECT_TRUE(std::regex_match(log.back(), std::regex("process completed - Date: "
                                                        "\\d\\d\\.\\d\\d\\.\\d{4} time: "
                                                        "\\d\\d\\.\\d\\d\\.\\d\\d")));
    int errors = 0;
    for (const auto& line : log)
        if (line.rfind("ORA-", 0) == 0) ++errors;
    EXPECT_EQ(errors, 2) << "the duplicate key and the missing table";
    EXPECT_NE(std::find(log.begin(), log.end(), "PROMPT loading"), log.end());
    std::string shown;
    for (const auto& line : host.log)
        shown += line + "\r\n";
    EXPECT_EQ(shown, readFile(logFile())) << "the window shows what the file holds";
}

// The import commits where the script says so; a process killed in the middle keeps every
// row committed before, and nothing after.
TEST_F(OracleExchange, RowsCommittedBeforeTheProcessIsKilledStay) {
    sql({"CREATE TABLE EMP (EMPNO NUMBER(4) PRIMARY KEY)", "COMMIT"});
    std::string script;
    for (int i = 1; i <= 6; ++i)
        script += "INSERT INTO SCOTT.EMP (EMPNO) VALUES (" + std::to_string(i) +
                  ");\r\n/ \r\nCOMMIT; \r\n/ \r\n";
    script += "INSERT INTO SCOTT.EMP (EMPNO) VALUES (7);\r\n";
    writeFile(scriptFile(), script);
    // A host that kills its own process at the log line after the third commit, while the
    // fourth row is inserted but not committed.
    struct KillingHost : run::TestHost {
        int commits = 0;
        void appendLogLine(const std::string& line) override {
            if (line == "Commit complete.") ++commits;
            if (commits == 3 && line == "1 row created.") ::kill(::getpid(), SIGKILL);
        }
    };
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        KillingHost killing;
        FixedOracleLogon own(ora.configDir().string(), "SCOTT", "tiger");
        run::SharedState state{engineSession};
        state.oracleLogon = &own;
        inputs.ExportSeite.ExportSelect = false;
        inputs.ExportSeite.ImportSelect = true;
        run::RunContext context{killing, engineSession, inputs, state};
        ImportOracleScript(context);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    EXPECT_EQ(rows("SELECT EMPNO FROM EMP ORDER BY EMPNO"),
              (std::vector<std::string>{"int:1", "int:2", "int:3"}));
}

TEST_F(OracleExchange, ImportChecksAndAScriptThatCannotBeRead) {
    struct Case {
        void (*clear)(run::ExportSeiteInputs&);
        const char* message;
    } cases[] = {
        {[](auto& in) { in.ExportTabOwnerEdit.clear(); }, "No Table Owner specified!"},
        {[](auto& in) { in.ExportTab.clear(); }, "No Table specified!"},
        {[](auto& in) { in.ExportFileEdit.clear(); }, "No Import file specified!"},
    };
    for (const auto& c : cases) {
        run::PageInputs saved = inputs;
        c.clear(inputs.ExportSeite);
        host.messages.clear();
        importRun();
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text, c.message);
        inputs = saved;
    }
    EXPECT_TRUE(host.log.empty()) << "the log window is not touched";

    EXPECT_THROW(importRun(), std::runtime_error) << "the script file does not exist";
    EXPECT_EQ(host.log.size(), 5u) << "the banner is shown";
    EXPECT_FALSE(std::filesystem::exists(logFile()));
}

TEST_F(OracleExchange, LogThatCannotBeWrittenIsReportedAfterTheScriptRan) {
    sql({"CREATE TABLE EMP (EMPNO NUMBER(4))"});
    writeFile(scriptFile(), "INSERT INTO SCOTT.EMP VALUES (1);\r\nCOMMIT;\r\n");
    inputs.ExportSeite.LogFileEdit.clear();
    inputs.ExportSeite.ExportSelect = false;
    inputs.ExportSeite.ImportSelect = true;
    run::RunContext context{host, engineSession, inputs, shared};
    EXPECT_THROW(ImportOracleScript(context), std::runtime_error);
    EXPECT_EQ(rows("SELECT EMPNO FROM EMP"), std::vector<std::string>{"int:1"});
    EXPECT_NE(host.log.back().find("process completed"), std::string::npos);

    // A log named like the script would replace it: the script stays.
    const std::string script = readFile(scriptFile());
    inputs.ExportSeite.LogFileEdit = inputs.ExportSeite.ExportFileEdit;
    EXPECT_THROW(ImportOracleScript(context), std::runtime_error);
    EXPECT_EQ(readFile(scriptFile()), script);
}

TEST_F(OracleExchange, SecondImportLogHoldsOnlyItsOwnRun) {
    sql({"CREATE TABLE EMP (EMPNO NUMBER(4))"});
    writeFile(scriptFile(), "INSERT INTO SCOTT.EMP VALUES (1);\r\n");
    importRun();
    writeFile(scriptFile(), "INSERT INTO SCOTT.EMP VALUES (2);\r\n");
    importRun();
    const std::string log = readFile(logFile());
    EXPECT_EQ(log.find("VALUES (1)"), std::string::npos);
    EXPECT_NE(log.find("VALUES (2)"), std::string::npos);
}

TEST_F(OracleExchange, BatchRunsExportAndImport) {
    makeEmp();
    // Batch mode's own logon: --oracle-logon and the password from the environment.
    ::setenv("FIELDSMITH_ORACLE_PASSWORD", "tiger", 1);
    engine::Session batchSession(ora.configDir()); // where oracle.ini names ORA
    auto logonOptions = [] {
        run::ConsoleHost::Options o;
        o.oracleLogon = "SCOTT@ORA";
        return o;
    };
    run::OperationTable operations;
    registerOperations(operations);
    const std::string script = scriptFile().string();
    std::ostringstream err;
    EXPECT_EQ(
        run::runPageFromArgs(batchSession,
                             {"ExportSeite", "ExportSelect=1", "ExportAlias=ORA", "ExportTab=EMP",
                              "ExportTabOwnerEdit=SCOTT", "ExportFileEdit=" + script},
                             operations, err, false, logonOptions()),
        run::kBatchDone)
        << err.str();
    sql({"DELETE FROM EMP", "COMMIT"});
    EXPECT_EQ(run::runPageFromArgs(batchSession,
                                   {"ExportSeite", "ImportSelect=1", "ExportAlias=ORA",
                                    "ExportTab=EMP", "ExportTabOwnerEdit=SCOTT",
                                    "ExportFileEdit=" + script, "LogFileEdit=" + script + ".log"},
                                   operations, err, false, logonOptions()),
              run::kBatchDone)
        << err.str();
    EXPECT_EQ(rows("SELECT ENAME FROM EMP ORDER BY EMPNO"),
              (std::vector<std::string>{"text:SMITH", "text:ALLEN", "text:WARD"}));
    EXPECT_TRUE(std::filesystem::exists(script + ".log"));
    EXPECT_EQ(run::runPageFromArgs(
                  batchSession,
                  {"ExportSeite", "ImportSelect=1", "ExportTab=EMP", "ExportFileEdit=" + script},
                  operations, err, false, logonOptions()),
              run::kBatchFailed)
        << "a check message fails the run";
    ::unsetenv("FIELDSMITH_ORACLE_PASSWORD");
}

TEST_F(OracleExchange, FailedLogonIsReportedAndEndsTheRun) {
    makeEmp();
    FixedOracleLogon wrong(ora.configDir().string(), "SCOTT", "wrong");
    shared.oracleLogon = &wrong;
    exportRun();
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages.back().text, "ORACLE Logon failed!");
    EXPECT_FALSE(std::filesystem::exists(scriptFile()));
}

} // namespace
} // namespace fieldsmith::oracle
