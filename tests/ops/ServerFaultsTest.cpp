// Runs on PostgreSQL tables meeting what a server does to them: it stops in the middle of a
// walk, it refuses a password, another session holds the table.
#include "ops/FieldOperations.h"

#include "app/run/Operations.h"
#include "app/run/TestHost.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "support/SqlServers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using namespace fieldsmith;

namespace {

class ServerFaults : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::postgresMissing().empty()) GTEST_SKIP() << test::postgresMissing();
        db = std::make_unique<test::ServerDatabase>(test::Server::Postgres);
        name = "faults_" + std::to_string(getpid());
        db->exec("DROP TABLE IF EXISTS " + name);
        db->exec("CREATE TABLE " + name + " (id INTEGER PRIMARY KEY, ort VARCHAR(20))");
        db->exec("INSERT INTO " + name + " SELECT g, CASE WHEN g % 2 = 0 THEN 'Bonn' ELSE 'Kiel' END "
                 "FROM generate_series(1, 3000) g");
        db->define(session, "SRV");
        auto& in = inputs.Seite2;
        in.Change1Alias = "SRV";
        in.Change1Table = name;
        in.Change1Field = "ort";
        in.vonEdit2 = "Bonn";
        in.zuEdit2 = "Berlin";
    }
    void TearDown() override {
        shared.TempTable.close();
        if (db) db->exec("DROP TABLE IF EXISTS " + name);
    }
    void run() {
        run::RunContext ctx{host, session, inputs, shared};
        ops::ExecuteFeldReplaceComplete(ctx);
    }
    std::string count(const std::string& ort) {
        return db->column("SELECT count(*) FROM " + name + " WHERE ort = '" + ort + "'").at(0);
    }

    std::unique_ptr<test::ServerDatabase> db;
    engine::Session session;
    run::TestHost host;
    run::PageInputs inputs;
    run::SharedState shared{session};
    std::string name;
};

// Another session locks the table: the run asks to try again; once the lock is gone it runs.
TEST_F(ServerFaults, ATableLockedByAnotherSessionGetsTheRetryQuestion) {
    db->exec("BEGIN");
    db->exec("LOCK TABLE " + name + " IN EXCLUSIVE MODE");
    host.answers = {false};
    EXPECT_THROW(run(), engine::EngineError);
    EXPECT_EQ(host.textsOf(run::MessageKind::Retry),
              std::vector<std::string>{"Table " + name + " is in use by someone else - OK to try again?"});
    EXPECT_TRUE(host.idle);
    db->exec("COMMIT");
    host = {};
    run();
    EXPECT_EQ(count("Berlin"), "1500");
    EXPECT_EQ(count("Bonn"), "0");
}

// A wrong password is refused with the server's reason and asked for again next time.
TEST_F(ServerFaults, AWrongPasswordIsRefusedAndAskedAgain) {
    engine::Session s;
    s.addAlias("SRV", db->aliasParams());
    int asked = 0;
    std::string answer = "wrong";
    s.setPasswordPrompt([&](const std::string& alias, const std::string&) {
        EXPECT_EQ(alias, "SRV");
        ++asked;
        return std::optional<std::string>(answer);
    });
    engine::Table t(s);
    t.setDatabaseName("SRV");
    t.setTableName(name);
    try {
        t.open();
        FAIL() << "opened with a wrong password";
    } catch (const engine::EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("password authentication failed"), std::string::npos) << e.what();
    }
    answer = db->password();
    EXPECT_NO_THROW(t.open());
    EXPECT_EQ(asked, 2) << "the refused password was not kept";
    t.close();
    EXPECT_NO_THROW(t.open());
    EXPECT_EQ(asked, 2) << "a good password is asked for once";
}

// The server stops while a run walks its table: the run ends with a clear error, the window
// is idle, and nothing of the run (its transaction) nor anything committed before is lost.
// A server of its own, since this one is stopped.
TEST_F(ServerFaults, TheServerStoppingInTheMiddleOfAWalkEndsTheRunCleanly) {
    const std::string script = std::string(FIELDSMITH_SOURCE_DIR) + "/scripts/pg-test-server";
    std::FILE* out = ::popen((script + " start 2>/dev/null").c_str(), "r");
    char buf[512] = {};
    const bool started = out && std::fgets(buf, sizeof buf, out) != nullptr;
    const int rc = out ? ::pclose(out) : -1;
    std::string dir = buf;
    while (!dir.empty() && (dir.back() == '\n' || dir.back() == ' ')) dir.pop_back();
    if (!started || rc != 0 || dir.empty()) GTEST_SKIP() << "a second PostgreSQL server could not be started";
    struct Cleanup {
        std::string script, dir;
        ~Cleanup() { (void)!std::system((script + " stop " + dir).c_str()); }
    } cleanup{script, dir};
    // The server's address from its env file.
    std::string server, password;
    if (std::FILE* env = std::fopen((dir + "/env").c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, env)) {
            std::string l = line;
            auto value = [&](const char* key) {
                const std::string k = std::string("export ") + key + "=\"";
                return l.rfind(k, 0) == 0 ? l.substr(k.size(), l.rfind('"') - k.size()) : std::string();
            };
            if (auto v = value("FIELDSMITH_TEST_PG"); !v.empty()) server = v;
            if (auto v = value("FIELDSMITH_TEST_PG_PASSWORD"); !v.empty()) password = v;
        }
        std::fclose(env);
    }
    ASSERT_FALSE(server.empty());
    engine::Session s;
    s.addAlias("OWN", {{"TYPE", "POSTGRESQL"}, {"SERVER NAME", server}, {"USER NAME", "fieldsmith"}});
    s.setPasswordPrompt([&](const std::string&, const std::string&) { return std::optional<std::string>(password); });
    {
        engine::Table t(s);
        t.setDatabaseName("OWN");
        t.setTableName("WALKED");
        t.fieldDefs() = {{"ID", engine::FieldType::ftInteger, 0, true}, {"ORT", engine::FieldType::ftString, 20, false}};
        t.indexDefs() = {{"", "ID", engine::ixPrimary}};
        t.createTable();
        t.open();
        for (int i = 1; i <= 2000; ++i) {
            t.insert();
            t.fieldByName("ID").setAsInteger(i);
            t.fieldByName("ORT").setAsString("Bonn");
            t.post();
        }
    }
    run::SharedState own{s};
    run::Seite2Inputs& in = inputs.Seite2;
    in.Change1Alias = "OWN";
    in.Change1Table = "WALKED";
    in.Change1Field = "ORT";
    const char* bin = std::getenv("FIELDSMITH_TEST_PG_BIN");
    const std::string pgctl = std::string(bin ? bin : "/usr/lib/postgresql/15/bin") + "/pg_ctl";
    const std::string as = geteuid() == 0 ? "runuser -u \"$(stat -c %U " + dir + "/data)\" -- " : "";
    host.onPendingMessages = [&](run::TestHost&, int call) {
        if (call != 500) return;
        (void)!std::system((as + pgctl + " -D " + dir + "/data -m immediate -w stop >/dev/null 2>&1").c_str());
    };
    run::RunContext ctx{host, s, inputs, own};
    try {
        ops::ExecuteFeldReplaceComplete(ctx);
        FAIL() << "the run went on without its server";
    } catch (const engine::EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("PostgreSQL"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(host.idle);
    EXPECT_EQ(host.textsOf(run::MessageKind::Information).size(), 1u) << "the completion before the error";
    try {
        own.TempTable.close();
    } catch (const engine::EngineError&) {
        // The lost connection cannot commit: that is the run's error, reported above.
    }
    // The server again: the table holds what was committed before the run.
    const std::string port = server.substr(server.rfind(':') + 1, server.rfind('/') - server.rfind(':') - 1);
    ASSERT_EQ(std::system((as + pgctl + " -D " + dir + "/data -l " + dir + "/server2.log -w -o \"-p " + port +
                           " -k " + dir + " -c listen_addresses=127.0.0.1\" start >/dev/null").c_str()),
              0);
    engine::Table t(s);
    t.setDatabaseName("OWN");
    t.setTableName("WALKED");
    t.open();
    EXPECT_EQ(t.recordCount(), 2000);
    int bonn = 0;
    for (t.first(); !t.eof(); t.next()) bonn += t.fieldByName("ORT").asString() == "Bonn";
    EXPECT_EQ(bonn, 2000) << "the stopped run's changes were never committed";
}

} // namespace
