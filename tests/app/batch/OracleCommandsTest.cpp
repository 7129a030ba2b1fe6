// fieldsmith-batch's Oracle commands: users of an embedded database, one SQL statement
// with its rows as CSV, and the demo's Oracle database.
#include "app/batch/OracleCommands.h"
#include "app/batch/BatchCommands.h"
#include "app/demo/DemoConfiguration.h"
#include "oraclient/EmbeddedUsers.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleQuery.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace fieldsmith;

namespace {

class OracleCommands : public ::testing::Test {
protected:
    OracleCommands() { ::unsetenv("FIELDSMITH_ORACLE_PASSWORD"); }

    int user(const std::vector<std::string>& operands, const std::string& input = "pw\n") {
        std::istringstream in(input);
        out.str("");
        err.str("");
        return batch::oracleUserCommand(dir.path(), operands, in, out, err);
    }
    int sql(const std::string& statement, const std::string& logon = "SCOTT@ORA",
            const std::string& input = "pw\n") {
        std::istringstream in(input);
        out.str("");
        err.str("");
        return batch::sqlCommand(dir.path(), logon, "ORA", statement, in, out, err);
    }

    test::TempDir dir;
    std::ostringstream out, err;
};

TEST_F(OracleCommands, UsersAreAddedChangedAndRemoved) {
    EXPECT_EQ(user({"add", "ORA", "scott"}), batch::kExitOk) << err.str();
    EXPECT_TRUE(oraclient::findOracleDatabase(dir.path(), "ORA").has_value())
        << "database entry not created";
    oraclient::EmbeddedUsers users(dir.path() / "oracle" / "ORA");
    EXPECT_TRUE(users.verify("SCOTT", "pw"));
    EXPECT_EQ(user({"add", "ORA", "SCOTT"}), batch::kExitFailed);
    EXPECT_NE(err.str().find("ORA-01920"), std::string::npos);
    EXPECT_EQ(user({"passwd", "ORA", "SCOTT"}, "new pw\n"), batch::kExitOk);
    EXPECT_TRUE(users.verify("SCOTT", "new pw"));
    EXPECT_EQ(user({"passwd", "ORA", "SCOTT"}, ""), batch::kExitFailed)
        << "an empty password was taken";
    EXPECT_EQ(user({"passwd", "ORA", "NOBODY"}), batch::kExitFailed);
    EXPECT_EQ(user({"frob", "ORA", "SCOTT"}), batch::kExitUsage);

    EXPECT_EQ(sql("CREATE TABLE T (X NUMBER)", "SCOTT@ORA", "new pw\n"), batch::kExitOk)
        << err.str();
    EXPECT_EQ(user({"remove", "ORA", "SCOTT"}), batch::kExitFailed)
        << "a schema with tables went without --yes";
    EXPECT_TRUE(users.exists("SCOTT"));
    EXPECT_EQ(user({"remove", "ORA", "SCOTT", "--yes"}), batch::kExitOk);
    EXPECT_FALSE(users.exists("SCOTT"));
    EXPECT_FALSE(std::filesystem::exists(users.schemaFile("SCOTT")));
}

TEST_F(OracleCommands, SqlPrintsRowsAsCsv) {
    ASSERT_EQ(user({"add", "ORA", "SCOTT"}), batch::kExitOk);
    EXPECT_EQ(sql("CREATE TABLE T (ID NUMBER, S VARCHAR2(40), D DATE, F FLOAT)"), batch::kExitOk)
        << err.str();
    EXPECT_EQ(sql("INSERT INTO T VALUES (1, 'a, \"b\"', TO_DATE('2024-02-29 10:00:01', 'YYYY-MM-DD "
                  "HH24:MI:SS'), 1.5)"),
              batch::kExitOk);
    EXPECT_EQ(err.str(), "1 row processed.\n");
    EXPECT_EQ(sql("INSERT INTO T (ID, S) VALUES (2, 'M\xC3\xBCller\nzwei')"), batch::kExitOk);
    // The password from the environment: standard input is not read.
    ::setenv("FIELDSMITH_ORACLE_PASSWORD", "pw", 1);
    EXPECT_EQ(sql("SELECT * FROM T ORDER BY ID", "SCOTT@ORA", ""), batch::kExitOk) << err.str();
    EXPECT_EQ(out.str(), "ID,S,D,F\r\n"
                         "1,\"a, \"\"b\"\"\",2024-02-29 10:00:01,1.5\r\n"
                         "2,\"M\xC3\xBCller\r\nzwei\",,\r\n");
    ::unsetenv("FIELDSMITH_ORACLE_PASSWORD");
    EXPECT_EQ(sql("SELECT * FROM T", "SCOTT@ORA", "wrong\n"), batch::kExitFailed);
    EXPECT_NE(err.str().find("ORA-01017: invalid username/password; logon denied"),
              std::string::npos);
    EXPECT_EQ(sql("SELECT * FROM T", "SCOTT@OTHER"), batch::kExitUsage);
    EXPECT_EQ(sql("SELECT * FROM T", ""), batch::kExitUsage);
    EXPECT_EQ(sql("SELECT * FROM NOPE"), batch::kExitFailed);
    EXPECT_NE(err.str().find("ORA-00942"), std::string::npos);
}

TEST(DemoOracle, CreatesKr4OnceAndNeverReplacesFiles) {
    test::TempDir dir;
    ASSERT_TRUE(demo::ensureDemoConfiguration(dir.path()));
    {
        oraclient::OracleSession session(dir.path());
        session.setLogonUsername("KR4");
        session.setLogonPassword("KR4");
        session.setLogonDatabase("KR4");
        session.logOn();
        oraclient::OracleQuery q(session);
        q.setSql("SELECT NAME FROM KR4.KUNDEN ORDER BY ID");
        q.open();
        EXPECT_EQ(q.recordCount(), 3);
        EXPECT_EQ(q.fieldText(0), "M\xFC"
                                  "ller");
    }
    std::ifstream aliases(dir / "aliases.ini");
    std::stringstream text;
    text << aliases.rdbuf();
    EXPECT_NE(text.str().find("[KR4]\nTYPE=ORACLE\nSERVER NAME=KR4\n"), std::string::npos)
        << text.str();

    // A second start, or a user's own oracle.ini, leaves every file as it is.
    const auto before = std::filesystem::last_write_time(dir / "oracle" / "KR4" / "users.ini");
    EXPECT_FALSE(demo::ensureDemoOracleDatabase(dir.path()));
    EXPECT_EQ(std::filesystem::last_write_time(dir / "oracle" / "KR4" / "users.ini"), before);
    test::TempDir own;
    {
        std::ofstream ini(own / "oracle.ini");
        ini << "[MINE]\nTYPE=SQLITE\nPATH=/nowhere\n";
    }
    EXPECT_FALSE(demo::ensureDemoOracleDatabase(own.path()));
    EXPECT_EQ(oraclient::oracleDatabaseNames(own.path()), std::vector<std::string>{"MINE"});
    EXPECT_FALSE(std::filesystem::exists(own / "oracle"));
}

} // namespace
