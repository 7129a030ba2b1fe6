// The Oracle logon: the dialog's retries, Cancel, the "UserId=" argument, an unknown
// database, the database each page offers, and the history without passwords.
#include "CreateTestSupport.h"

#include "app/run/OracleLogon.h"
#include "oraclient/OracleQuery.h"

namespace fieldsmith::createtest {
namespace {

using Answer = run::TestHost::LogonAnswer;

class OracleLogon : public CreateRun {
protected:
    bool ensure(std::string_view page = "CreateTableSeite") {
        run::RunContext context{host, session, inputs, shared};
        return run::EnsureOracleLogon(context, page);
    }
    std::string clientInfo() {
        oraclient::OracleQuery q(shared.tSession);
        q.setSql("SELECT SYS_CONTEXT('USERENV', 'CLIENT_INFO') FROM DUAL");
        q.open();
        return q.fieldText(0);
    }
};

TEST_F(OracleLogon, DialogRetriesUntilRightOrCancelled) {
    struct Case {
        const char* what;
        std::vector<std::optional<Answer>> answers;
        bool connected;
        std::size_t showings;
        std::vector<std::string> errors;
        std::vector<std::string> plain; //!< the plain box of an error after the last retry
    } cases[] = {
        {"wrong password twice, then right: one showing of the dialog",
         {Answer{"SALES", "x", ""}, Answer{"SALES", "y", ""}, Answer{"SALES", "s3cret", ""}},
         true,
         3,
         {"ORA-01017: invalid username/password; logon denied",
          "ORA-01017: invalid username/password; logon denied"},
         {}},
        {"cancel five times", {}, false, 5, {"ORACLE Logon failed!"}, {}},
        {"an unknown database, then the right one",
         {Answer{"SALES", "s3cret", "NOWHERE"}, Answer{"SALES", "s3cret", "ORA"}},
         true,
         2,
         {"ORA-12154: TNS:could not resolve the connect identifier specified"},
         {}},
        {"four failures use up one showing's retries; the next showing connects",
         {Answer{"SALES", "1", ""}, Answer{"SALES", "2", ""}, Answer{"SALES", "3", ""},
          Answer{"SALES", "4", ""}, Answer{"SALES", "s3cret", ""}},
         true,
         5,
         {"ORA-01017: invalid username/password; logon denied",
          "ORA-01017: invalid username/password; logon denied",
          "ORA-01017: invalid username/password; logon denied"},
         {"ORA-01017: invalid username/password; logon denied"}},
    };
    for (const Case& c : cases) {
        run::SharedState fresh(session);
        host = {};
        host.logonAnswers.assign(c.answers.begin(), c.answers.end());
        inputs.CreateTableSeite.NeuTab2Alias = "ORA";
        run::RunContext context{host, session, inputs, fresh};
        EXPECT_EQ(run::EnsureOracleLogon(context, "CreateTableSeite"), c.connected) << c.what;
        EXPECT_EQ(fresh.tSession.connected(), c.connected) << c.what;
        EXPECT_EQ(host.logonShowings.size(), c.showings) << c.what;
        EXPECT_EQ(host.textsOf(run::MessageKind::Error), c.errors) << c.what;
        EXPECT_EQ(host.textsOf(run::MessageKind::Information), c.plain) << c.what;
        if (c.connected) {
            oraclient::OracleQuery q(fresh.tSession);
            q.setSql("SELECT SYS_CONTEXT('USERENV', 'CLIENT_INFO') FROM DUAL");
            q.open();
            EXPECT_EQ(q.fieldText(0), "KR4 Fieldsmith") << c.what;
            EXPECT_EQ(fresh.tSession.logonUsername(), "SALES") << c.what;
        }
    }
}

TEST_F(OracleLogon, DialogOpensWithUserKR4AndThePagesDatabase) {
    struct Case {
        const char* page;
        std::string createAlias, exportAlias;
        const char* database;
    } cases[] = {
        {"CreateTableSeite", "ORA", "ORCL", "ORA"}, {"CreateTableSeite", "", "ORCL", "KR4"},
        {"ExportSeite", "ORA", "ORCL", "ORCL"},     {"ExportSeite", "ORA", "", "KR4"},
        {"Seite1", "ORA", "ORCL", "KR4"},
    };
    for (const Case& c : cases) {
        host = {};
        inputs.CreateTableSeite.NeuTab2Alias = c.createAlias;
        inputs.ExportSeite.ExportAlias = c.exportAlias;
        EXPECT_FALSE(ensure(c.page));
        ASSERT_EQ(host.logonShowings.size(), 5u) << c.page;
        const run::LogonForm& form = host.logonShowings.front();
        EXPECT_EQ(form.caption, "KR4 Oracle Logon");
        EXPECT_EQ(form.username, "KR4") << c.page;
        EXPECT_EQ(form.password, "") << c.page;
        EXPECT_EQ(form.database, c.database) << c.page << " " << c.createAlias;
        EXPECT_EQ(form.databases, std::vector<std::string>{"ORA"});
        EXPECT_EQ(form.databaseDropDownCount, 8);
    }
}

TEST_F(OracleLogon, UserIdArgumentLogsOnOnceWithoutTheDialog) {
    shared.OraLogon.setProgramArguments({"KEYSTONEVIEWS", "userid=SALES/s3cret@ORA"});
    EXPECT_TRUE(ensure());
    EXPECT_TRUE(host.logonShowings.empty());
    EXPECT_EQ(clientInfo(), "KR4 Fieldsmith");
    // Connected: no dialog, nothing sent.
    EXPECT_TRUE(ensure());
    EXPECT_TRUE(host.logonShowings.empty());
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(OracleLogon, WrongUserIdArgumentFallsBackToTheDialogOnce) {
    run::SharedState fresh(session);
    fresh.OraLogon.setProgramArguments({"UserId=SALES/wrong@ORA"});
    answerLogon();
    run::RunContext context{host, session, inputs, fresh};
    EXPECT_TRUE(run::EnsureOracleLogon(context, "CreateTableSeite"));
    EXPECT_EQ(host.logonShowings.size(), 1u);
    EXPECT_EQ(host.textsOf(run::MessageKind::Information),
              std::vector<std::string>{"ORA-01017: invalid username/password; logon denied"});
}

TEST_F(OracleLogon, HistoryKeepsLogonsWithoutPasswords) {
    for (const char* db : {"ORA", "ORA", "ora"}) {
        run::SharedState* s = &shared;
        s->tSession.logOff();
        host.logonAnswers.push_back(Answer{"SALES", "s3cret", db});
        EXPECT_TRUE(ensure());
    }
    const auto& history = shared.OraLogon.history();
    ASSERT_EQ(history.size(), 1u) << "the same logon is kept once";
    EXPECT_EQ(history[0].username, "SALES");
    // The history reaches the dialog, and no password is anywhere in it.
    shared.tSession.logOff();
    ensure();
    ASSERT_FALSE(host.logonShowings.empty());
    EXPECT_EQ(host.logonShowings.back().history.size(), 1u);
    EXPECT_EQ(host.logonShowings.back().password, "");
}

TEST(LogonText, Parsing) {
    const struct {
        const char* text;
        const char* user;
        const char* password;
        const char* database;
    } cases[] = {
        {"SCOTT/tiger@ORA", "SCOTT", "tiger", "ORA"},
        {"SCOTT@ORA", "SCOTT", "", "ORA"},
        {"SCOTT/tiger", "SCOTT", "tiger", ""},
        {"SCOTT/ti/ger@x@ORA", "SCOTT", "ti/ger@x", "ORA"},
    };
    for (const auto& c : cases) {
        const run::LogonText t = run::parseLogonText(c.text);
        EXPECT_EQ(t.username, c.user) << c.text;
        EXPECT_EQ(t.password, c.password) << c.text;
        EXPECT_EQ(t.database, c.database) << c.text;
    }
    EXPECT_FALSE(run::userIdArgument({"UserIdX=a/b@c", "KEYSTONEVIEWS"}));
    EXPECT_EQ(run::userIdArgument({"USERID=a/b@c"})->database, "c");
}

} // namespace
} // namespace fieldsmith::createtest
