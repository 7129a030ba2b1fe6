// Create Table into the Oracle target: the columns, constraint and indexes the statements
// make, the records read back through the client layer and through SQLite itself, the
// question before a table is dropped, and a logon that fails.
#include "CreateTestSupport.h"
#include "oraclient/OracleTestSupport.h"

#include "create/CreateTable.h"
#include "oraclient/OracleError.h"
#include "oraclient/OracleQuery.h"


namespace fieldsmith::createtest {
namespace {

using engine::FieldDef;
using engine::FieldType;

using oratest::sqliteRows;

const std::vector<FieldDef> kFields = {
    {"ORDERNO", FieldType::ftInteger, 0, true},
    {"DATE", FieldType::ftDate, 0, false},
    {"CUSTOMER-NAME", FieldType::ftString, 30, false},
    {"NOTES", FieldType::ftMemo, 20, false},
    {"Level", FieldType::ftSmallint, 0, false},
    {"PAID", FieldType::ftBoolean, 0, false},
    {"AMOUNT", FieldType::ftCurrency, 0, false},
    {"TIME", FieldType::ftTime, 0, false},
    {"PRICE", FieldType::ftBCD, 2, false},
};
const Records kRecords = {
    {"1", "2024-01-31", "Miller", "first\r\nsecond line", "3", "True", "12.5", "08:30:00", "1.25"},
    {"2", "", "Smith & Sons", "", "", "False", "", "", ""},
    {"3", "1999-12-31", "Zoe", "a memo longer than the twenty bytes of its leader", "-7", "",
     "-0.75", "23:59:59", "-100.5"},
};
const std::vector<engine::IndexDef> kIndexes = {
    {"", "ORDERNO", engine::ixPrimary | engine::ixUnique},
    {"BYDATE", "DATE;CUSTOMER-NAME", engine::ixCaseInsensitive},
};

class OracleCreate : public CreateRun {
protected:
    void SetUp() override { makeTable(session, src() / "ORDERS.DB", kFields, kRecords, kIndexes); }

    //! Every value of the copied ORDERS read back through the client layer.
    Records ordersReadBack() {
        oraclient::OracleQuery q(shared.tSession);
        q.setSql("SELECT * FROM SALES.ORDERS ORDER BY ORDERNO");
        q.open();
        return rowsOf(q);
    }
    //! The records as the engine writes them as text; the logical field became 1 or 0, line
    //! breaks read back as CR LF.
    static Records ordersExpected() {
        Records expected = kRecords;
        for (auto& r : expected)
            r[5] = r[5] == "True" ? "1" : r[5] == "False" ? "0" : "";
        return expected;
    }
};

TEST_F(OracleCreate, TableConstraintIndexesAndRecords) {
    aim("ORDERS", "ORDERS.DB", "ORA");
    inputs.CreateTableSeite.IndexesCheck = true;
    inputs.CreateTableSeite.CopyAllRecsCheck = true;
    answerLogon();
    run();
    EXPECT_EQ(infos(), std::vector<std::string>{"Table create complete!"});
    EXPECT_TRUE(errors().empty());
    ASSERT_EQ(host.logonShowings.size(), 1u);
    EXPECT_EQ(host.logonShowings[0].database, "ORA");
    EXPECT_EQ(host.panels[1], "3 Records of 3 copied");

    // Columns in field order with the mapped types.
    const auto columns = sqliteRows(
        salesSchema(), "SELECT name, type, \"notnull\" FROM pragma_table_info('ORDERS')");
    EXPECT_EQ(columns, (std::vector<std::string>{"ORDERNO|FLOAT|1", "DAT_|DATE|0",
                                                 "CUSTOMER_NAME|VARCHAR2(30)|0", "NOTES|CLOB|0",
                                                 "LEVE_|FLOAT|0", "PAID|FLOAT|0", "AMOUNT|FLOAT|0",
                                                 "TIM_|VARCHAR2(20)|0", "PRICE|NUMBER|0"}));
    const auto schema = sqliteRows(salesSchema(), "SELECT type, name, sql FROM sqlite_master "
                                                  "WHERE tbl_name = 'ORDERS' ORDER BY name");
    std::string all;
    for (const auto& row : schema)
        all += row + "\n";
    EXPECT_NE(all.find("KR4_PI_ORDERS"), std::string::npos) << all;
    // The primary index's columns are those of the key constraint, which Oracle indexes
    // already and will not index twice: it gets no index of its own, the next keeps its number.
    EXPECT_EQ(all.find("KR4_I_ORDERS_0"), std::string::npos) << all;
    EXPECT_NE(all.find("KR4_I_ORDERS_1"), std::string::npos) << all;
    EXPECT_EQ(sqliteRows(salesSchema(), "SELECT name FROM pragma_index_info('KR4_I_ORDERS_1')"),
              (std::vector<std::string>{"DAT_", "CUSTOMER_NAME"}));

    EXPECT_EQ(ordersReadBack(), ordersExpected());

    // And as SQLite itself keeps them.
    EXPECT_EQ(sqliteRows(salesSchema(), "SELECT ORDERNO, DAT_, CUSTOMER_NAME, NOTES, LEVE_, "
                                        "PAID, AMOUNT, TIM_, PRICE FROM ORDERS ORDER BY ORDERNO"),
              (std::vector<std::string>{
                  "1.0|2024-01-31 00:00:00|Miller|first\nsecond line|3.0|1.0|12.5|08:30:00|1.25",
                  "2.0|NULL|Smith & Sons|NULL|NULL|0.0|NULL|NULL|NULL",
                  "3.0|1999-12-31 00:00:00|Zoe|a memo longer than the twenty bytes of its "
                  "leader|-7.0|NULL|-0.75|23:59:59|-100.5"}));
}

// The same copy into a PostgreSQL database behind the Oracle target: the key constraint
// the page writes after the last column, the indexes and every value.
TEST_F(OracleCreate, KeyedTableCopiesIntoAPostgresTarget) {
    oratest::OracleFixture server(oratest::Backend::Postgres);
    if (!server.unavailable().empty()) GTEST_SKIP() << server.unavailable();
    std::filesystem::copy_file(server.configDir() / "oracle.ini", dir / "oracle.ini",
                               std::filesystem::copy_options::overwrite_existing);
    aim("ORDERS", "ORDERS.DB", "ORA");
    inputs.CreateTableSeite.IndexesCheck = true;
    inputs.CreateTableSeite.CopyAllRecsCheck = true;
    answerLogon();
    run();
    ASSERT_TRUE(errors().empty()) << errors()[0];
    EXPECT_EQ(infos(), std::vector<std::string>{"Table create complete!"});
    EXPECT_EQ(host.panels[1], "3 Records of 3 copied");
    EXPECT_EQ(ordersReadBack(), ordersExpected());

    oraclient::OracleQuery q(shared.tSession);
    q.setSql("SELECT indexname FROM pg_indexes WHERE schemaname = 'sales' AND tablename = "
             "'orders' AND indexname LIKE 'kr4%' ORDER BY indexname");
    q.open();
    std::vector<std::string> indexes;
    for (q.first(); !q.eof(); q.next())
        indexes.push_back(q.fieldText(0));
    EXPECT_EQ(indexes, (std::vector<std::string>{"kr4_i_orders_1", "kr4_pi_orders"}));
    // The key holds: a second record with the same number is refused.
    q.setSql("INSERT INTO SALES.ORDERS (ORDERNO) VALUES (1)");
    EXPECT_EQ(oratest::oraCodeOf([&] { q.open(); }), 1);
}

// A source without required fields has no key constraint: each of its indexes is made.
TEST_F(OracleCreate, IndexesOfASourceWithoutKeyAreAllMade) {
    makeTable(session, src() / "LOOSE.DBF",
              {{"ORDERNO", FieldType::ftInteger, 0, false}, {"NAME", FieldType::ftString, 30, false}},
              {{"1", "Miller"}, {"2", "Smith"}}, {{"BYNO", "ORDERNO", 0}, {"BYNAME", "NAME", 0}});
    aim("LOOSE.DBF", "LOOSE.DB", "ORA");
    inputs.CreateTableSeite.IndexesCheck = true;
    answerLogon();
    run();
    EXPECT_EQ(infos(), std::vector<std::string>{"Table create complete!"});
    EXPECT_EQ(sqliteRows(salesSchema(), "SELECT name FROM sqlite_master WHERE type = 'index' AND "
                                        "tbl_name = 'LOOSE' ORDER BY name"),
              (std::vector<std::string>{"KR4_I_LOOSE_0", "KR4_I_LOOSE_1"}));
}

TEST_F(OracleCreate, ExistingTableIsDroppedOnlyAfterYes) {
    for (const bool yes : {false, true}) {
        host = {};
        if (!shared.tSession.connected()) answerLogon();
        {
            run::RunContext context{host, session, inputs, shared};
            ASSERT_TRUE(run::EnsureOracleLogon(context, "CreateTableSeite"));
        }
        oraclient::OracleQuery q(shared.tSession);
        q.setSql("CREATE TABLE SALES.ORDERS (OLD VARCHAR2(5))");
        try {
            q.open();
        } catch (const oraclient::OracleError&) {
            // the table of the previous case is still there; replace it
            q.setSql("DROP TABLE SALES.ORDERS");
            q.open();
            q.setSql("CREATE TABLE SALES.ORDERS (OLD VARCHAR2(5))");
            q.open();
        }
        aim("ORDERS", "ORDERS.DB", "ORA");
        inputs.CreateTableSeite.CopyAllRecsCheck = true;
        host.answers = {yes};
        run();
        EXPECT_EQ(questions(), std::vector<std::string>{
                                   "Table SALES.ORDERS exists and will be replaced. Continue?"});
        const auto columns =
            sqliteRows(salesSchema(), "SELECT name FROM pragma_table_info('ORDERS')");
        ASSERT_FALSE(columns.empty());
        EXPECT_EQ(columns.front(), yes ? "ORDERNO" : "OLD");
        EXPECT_EQ(infos().size(), yes ? 1u : 0u);
    }
}

TEST_F(OracleCreate, FailedLogonTouchesNothing) {
    aim("ORDERS", "ORDERS.DB", "ORA");
    inputs.CreateTableSeite.CopyAllRecsCheck = true;
    run(); // every showing cancelled
    EXPECT_EQ(errors(), std::vector<std::string>{"ORACLE Logon failed!"});
    EXPECT_TRUE(infos().empty());
    EXPECT_TRUE(questions().empty());
    EXPECT_TRUE(host.idle);
    EXPECT_TRUE(sqliteRows(salesSchema(), "SELECT name FROM sqlite_master").empty());
}

TEST_F(OracleCreate, NamesOracleRefusesFailTheDefinition) {
    makeTable(session, src() / "ODD.DB", {{"Last Name", FieldType::ftString, 10, false}}, {});
    struct Case {
        const char* what;
        const char* source;
        const char* newName;
    } cases[] = {
        {"a field name with a blank", "ODD", "ODD.DB"},
        {"an inner dot in the new name: SALES.NEW.ORDERS", "ORDERS", "NEW.ORDERS.DB"},
    };
    answerLogon();
    for (const Case& c : cases) {
        host.messages.clear();
        aim(c.source, c.newName, "ORA");
        EXPECT_THROW(run(), oraclient::OracleError) << c.what;
        EXPECT_EQ(errors(), std::vector<std::string>{"Error on Define Table"}) << c.what;
        EXPECT_TRUE(infos().empty()) << c.what;
        EXPECT_TRUE(questions().empty()) << c.what;
    }
}

} // namespace
} // namespace fieldsmith::createtest
