// Logon to the embedded backend: passwords, unknown users and databases, the password
// store, connect-as modes, stored-procedure calls and a session that is not connected.
#include "OracleTestSupport.h"

#include "oraclient/EmbeddedUsers.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleQuery.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <fstream>
#include <sstream>

using namespace fieldsmith;
using namespace fieldsmith::oraclient;
using oratest::oraCodeOf;

namespace {

class Logon : public ::testing::Test, public oratest::OracleFixture {};

TEST_F(Logon, ChecksUserPasswordAndDatabase) {
    struct Case {
        const char* what;
        const char* user;
        const char* password;
        const char* database;
        int code;
    };
    const Case cases[] = {
        {"right password", "SCOTT", "tiger", "ORA", 0},
        {"user and database in any case", "scott", "tiger", "ora", 0},
        {"wrong password", "SCOTT", "tigre", "ORA", 1017},
        {"password in the wrong case", "SCOTT", "TIGER", "ORA", 1017},
        {"another user's password", "SCOTT", "s3cret", "ORA", 1017},
        {"unknown user", "NOBODY", "tiger", "ORA", 1017},
        {"malformed user name", "1-x", "tiger", "ORA", 1017},
        {"unknown database", "SCOTT", "tiger", "NOWHERE", 12154},
        {"empty password", "SCOTT", "", "ORA", 1005},
    };
    for (const Case& c : cases) {
        OracleSession session(configDir());
        session.setLogonUsername(c.user);
        session.setLogonPassword(c.password);
        session.setLogonDatabase(c.database);
        EXPECT_EQ(oraCodeOf([&] { session.logOn(); }), c.code) << c.what;
        EXPECT_EQ(session.connected(), c.code == 0) << c.what;
    }
}

TEST_F(Logon, ErrorTextsAreOracleMessages) {
    OracleSession session(configDir());
    session.setLogonUsername("SCOTT");
    session.setLogonPassword("wrong");
    session.setLogonDatabase("ORA");
    try {
        session.logOn();
        FAIL() << "logon with a wrong password succeeded";
    } catch (const OracleError& e) {
        EXPECT_STREQ(e.what(), "ORA-01017: invalid username/password; logon denied");
    }
    session.setLogonDatabase("NOWHERE");
    try {
        session.logOn();
        FAIL() << "logon to an unknown database succeeded";
    } catch (const OracleError& e) {
        EXPECT_STREQ(e.what(), "ORA-12154: TNS:could not resolve the connect identifier specified");
    }
}

TEST_F(Logon, PasswordStoreHoldsOnlySaltedSlowHashes) {
    std::ifstream in(databaseDir() / "users.ini", std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    EXPECT_EQ(text.find("tiger"), std::string::npos);
    EXPECT_EQ(text.find("s3cret"), std::string::npos);
    // Each stored form is a libsodium password hash that verifies the password.
    std::istringstream lines(text);
    std::string line;
    std::vector<std::string> hashes;
    while (std::getline(lines, line))
        if (line.rfind("PASSWORD HASH=", 0) == 0) hashes.push_back(line.substr(14));
    ASSERT_EQ(hashes.size(), 2u);
    ASSERT_GE(sodium_init(), 0);
    for (const auto& h : hashes) {
        EXPECT_EQ(h.rfind("$argon2id$", 0), 0u) << h;
        EXPECT_EQ(crypto_pwhash_str_needs_rehash(h.c_str(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                                 crypto_pwhash_MEMLIMIT_INTERACTIVE),
                  0)
            << "not a hash of the expected strength: " << h;
    }
    // Two users with the same password still get different hashes (salted).
    EmbeddedUsers users(databaseDir());
    users.add("TWIN", "tiger");
    users.setPassword("SALES", "tiger");
    std::ifstream again(databaseDir() / "users.ini", std::ios::binary);
    std::stringstream after;
    after << again.rdbuf();
    EXPECT_EQ(after.str().find("tiger"), std::string::npos);
    EXPECT_TRUE(users.verify("twin", "tiger"));
    EXPECT_TRUE(users.verify("SALES", "tiger"));
    EXPECT_FALSE(users.verify("SALES", "s3cret"));
}

TEST_F(Logon, UserManagementErrors) {
    EmbeddedUsers users(databaseDir());
    EXPECT_EQ(oraCodeOf([&] { users.add("SCOTT", "x"); }), 1920);
    EXPECT_EQ(oraCodeOf([&] { users.setPassword("NOBODY", "x"); }), 1918);
    EXPECT_EQ(oraCodeOf([&] { users.remove("NOBODY"); }), 1918);
    EXPECT_EQ(oraCodeOf([&] { users.add("BAD NAME", "x"); }), 1935);
    EXPECT_EQ(oraCodeOf([&] { users.add("EMPTY", ""); }), 988);
    users.remove("SALES");
    EXPECT_FALSE(std::filesystem::exists(users.schemaFile("SALES")));
    EXPECT_EQ(users.names(), std::vector<std::string>{"SCOTT"});
}

TEST_F(Logon, ConnectAsModesAreAccepted) {
    for (ConnectAs mode : {ConnectAs::Normal, ConnectAs::SysDba, ConnectAs::SysOper}) {
        OracleSession session(configDir());
        session.setLogonUsername("SCOTT");
        session.setLogonPassword("tiger");
        session.setLogonDatabase("ORA");
        session.setConnectAs(mode);
        session.logOn();
        EXPECT_TRUE(session.connected());
        EXPECT_EQ(session.connectAs(), mode);
        EXPECT_EQ(session.logonUsername(), "SCOTT");
    }
}

TEST_F(Logon, ClientInfoProcedureAndUnknownProcedures) {
    auto session = logOn();
    session->callProcedure("sys.dbms_application_info.set_client_info",
                           {{"client_info", "KR4 Fieldsmith"}});
    OracleQuery q(*session);
    q.setSql("SELECT SYS_CONTEXT('USERENV', 'CLIENT_INFO') AS INFO, USER FROM DUAL");
    q.open();
    EXPECT_EQ(q.fieldText("info"), "KR4 Fieldsmith");
    EXPECT_EQ(q.fieldText("USER"), "SCOTT");

    struct Case {
        const char* what;
        std::string name;
        std::vector<NamedArgument> args;
        std::string message;
    };
    const Case cases[] = {
        {"unknown procedure",
         "sys.no_such_package.run",
         {},
         "ORA-06550: line 1, column 7:\nPLS-00201: identifier 'SYS.NO_SUCH_PACKAGE.RUN' must be "
         "declared"},
        {"unknown parameter",
         "sys.dbms_application_info.set_client_info",
         {{"info", "x"}},
         "ORA-06550: line 1, column 7:\nPLS-00306: wrong number or types of arguments in call to "
         "'SET_CLIENT_INFO'"},
        {"missing parameter",
         "dbms_application_info.set_client_info",
         {},
         "ORA-06550: line 1, column 7:\nPLS-00306: wrong number or types of arguments in call to "
         "'SET_CLIENT_INFO'"},
    };
    for (const Case& c : cases) {
        try {
            session->callProcedure(c.name, c.args);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const OracleError& e) {
            EXPECT_EQ(e.what(), c.message) << c.what;
        }
    }
}

TEST_F(Logon, DisconnectedSessionRefusesWork) {
    OracleSession session(configDir());
    EXPECT_FALSE(session.connected());
    EXPECT_EQ(oraCodeOf([&] { session.commit(); }), 3114);
    OracleQuery q(session);
    q.setSql("SELECT * FROM DUAL");
    EXPECT_EQ(oraCodeOf([&] { q.open(); }), 3114);
    EXPECT_FALSE(q.active());
}

TEST(OracleConfig, AddsDatabasesWithoutTouchingTheRest) {
    test::TempDir dir;
    {
        std::ofstream out(dir / "oracle.ini", std::ios::binary);
        out << "; my own "
               "notes\n[REMOTE]\nTYPE=POSTGRESQL\nHOST=db.example\n[LOCAL]\nTYPE=SQLITE\nPATH=/abs/"
               "local";
    }
    const auto entry = ensureEmbeddedDatabase(dir.path(), "kr4");
    EXPECT_EQ(entry.path, dir.path() / "oracle" / "KR4");
    EXPECT_TRUE(std::filesystem::is_directory(entry.path));
    EXPECT_EQ(oracleDatabaseNames(dir.path()),
              (std::vector<std::string>{"REMOTE", "LOCAL", "KR4"}));
    EXPECT_EQ(findOracleDatabase(dir.path(), "local")->path, "/abs/local");
    EXPECT_EQ(findOracleDatabase(dir.path(), "remote")->type, "POSTGRESQL");
    std::ifstream in(dir / "oracle.ini", std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    EXPECT_EQ(all.str().rfind("; my own notes\n[REMOTE]\nTYPE=POSTGRESQL\nHOST=db.example\n", 0),
              0u);
    // A second call finds the entry and adds nothing.
    ensureEmbeddedDatabase(dir.path(), "KR4");
    EXPECT_EQ(oracleDatabaseNames(dir.path()).size(), 3u);
    EXPECT_EQ(oraCodeOf([&] { ensureEmbeddedDatabase(dir.path(), "REMOTE"); }), 12154);
}

} // namespace
