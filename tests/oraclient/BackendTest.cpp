// What every backend of the layer must give alike, run on the embedded one and on the
// PostgreSQL test server: the tables the Create Table page makes (Oracle types, a primary
// key constraint, indexes, DROP TABLE), the ORA errors the layer promises, owner-qualified
// names, the client info, and the ROWID a table row keeps through updates.
#include "OracleTestSupport.h"

#include "oraclient/OracleQuery.h"

#include <gtest/gtest.h>

using namespace fieldsmith;
using namespace fieldsmith::oraclient;
using oratest::Backend;
using oratest::oraCodeOf;

namespace {

class Backends : public ::testing::TestWithParam<Backend>, public oratest::OracleFixture {
protected:
    Backends() : OracleFixture(GetParam()) {}
    void SetUp() override {
        if (!unavailable().empty()) GTEST_SKIP() << unavailable();
        session = logOn();
    }
    std::vector<std::string> rows(const std::string& sql) {
        OracleQuery q(*session);
        q.setSql(sql);
        q.open();
        std::vector<std::string> out;
        for (; !q.eof(); q.next()) {
            std::string row;
            for (int i = 0; i < q.fieldCount(); ++i)
                row += (i ? "|" : "") + q.fieldText(i);
            out.push_back(row);
        }
        return out;
    }
    int codeOf(const std::string& sql) {
        return oraCodeOf([&] { session->execute(sql); });
    }

    std::unique_ptr<OracleSession> session;
};

TEST_P(Backends, CreateTableWithOracleTypesKeysAndIndexes) {
    run(*session,
        {"CREATE TABLE SCOTT.PRODUCTS (ID NUMBER(10) NOT NULL, CODE VARCHAR2(12), "
         "PRICE NUMBER(10,2), QTY NUMBER, MADE DATE, STAMP TIMESTAMP, NOTE CLOB, RAW_DATA BLOB, "
         "FLAG CHAR(1), LONGNOTE LONG, CONSTRAINT PRODUCTS_PK PRIMARY KEY (ID))",
         "CREATE INDEX PRODUCTS_CODE ON SCOTT.PRODUCTS (CODE)",
         "CREATE UNIQUE INDEX SCOTT.PRODUCTS_CODE_PRICE ON PRODUCTS (CODE, PRICE)",
         "INSERT INTO SCOTT.PRODUCTS (ID, CODE, PRICE, QTY, MADE, NOTE, FLAG, LONGNOTE) VALUES "
         "(1, '007', 12.5, 3, TO_DATE('2024-03-05 14:05:09', 'YYYY-MM-DD HH24:MI:SS'), "
         "TO_CLOB('a') || CHR(13) || CHR(10) || 'b', 'Y', 'long')",
         "COMMIT"});
    OracleQuery q(*session);
    q.setSql("SELECT * FROM PRODUCTS");
    q.open();
    const std::vector<std::pair<std::string, ColumnKind>> expected = {
        {"ID", ColumnKind::Number},     {"CODE", ColumnKind::Text},
        {"PRICE", ColumnKind::Number},  {"QTY", ColumnKind::Number},
        {"MADE", ColumnKind::Date},     {"STAMP", ColumnKind::Timestamp},
        {"NOTE", ColumnKind::LongText}, {"RAW_DATA", ColumnKind::Bytes},
        {"FLAG", ColumnKind::Text},     {"LONGNOTE", ColumnKind::LongText}};
    ASSERT_EQ(q.fieldCount(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(q.fieldName(static_cast<int>(i)), expected[i].first);
        EXPECT_EQ(q.column(static_cast<int>(i)).type.kind, expected[i].second) << expected[i].first;
    }
    EXPECT_EQ(q.column(1).type.length, 12);
    EXPECT_EQ(q.column(2).type.scale, 2);
    EXPECT_EQ(rows("SELECT ID, CODE, PRICE, MADE, NOTE FROM SCOTT.PRODUCTS"),
              (std::vector<std::string>{"1|007|12.5|2024-03-05 14:05:09|a\r\nb"}));
    // The key and the unique index hold; DDL errors are Oracle's.
    EXPECT_EQ(codeOf("INSERT INTO PRODUCTS (ID, CODE) VALUES (1, 'x')"), 1);
    EXPECT_EQ(codeOf("INSERT INTO PRODUCTS (ID, CODE, PRICE) VALUES (2, '007', 12.5)"), 1);
    EXPECT_EQ(codeOf("CREATE TABLE PRODUCTS (ID NUMBER)"), 955);
    EXPECT_EQ(codeOf("CREATE TABLE BAD (ID NOSUCHTYPE)"), 902);
    EXPECT_EQ(codeOf("INSERT INTO PRODUCTS (ID, CODE) VALUES (3, 'much too long code')"), 12899);
    EXPECT_EQ(codeOf("INSERT INTO PRODUCTS (ID, PRICE) VALUES (4, 123456789)"), 1438);
    EXPECT_EQ(codeOf("INSERT INTO PRODUCTS (CODE) VALUES ('x')"), 1400);
    run(*session, {"DROP INDEX PRODUCTS_CODE", "DROP TABLE SCOTT.PRODUCTS CASCADE CONSTRAINTS"});
    // Quoted names as a page writes them: upper case means the unquoted name, other case
    // is kept.
    run(*session, {"CREATE TABLE \"SCOTT\".\"Q\" (\"ID\" NUMBER(5), \"Mixed\" VARCHAR2(5), "
                   "CONSTRAINT \"Q_PK\" PRIMARY KEY (\"ID\"))",
                   "CREATE INDEX \"Q_MIXED\" ON \"SCOTT\".\"Q\" (\"Mixed\")",
                   "INSERT INTO \"SCOTT\".\"Q\" (\"ID\", \"Mixed\") VALUES (1, 'x')"});
    OracleQuery quoted(*session);
    quoted.setSql("SELECT * FROM Q");
    quoted.open();
    ASSERT_EQ(quoted.fieldCount(), 2);
    EXPECT_EQ(quoted.fieldName(1), "Mixed");
    EXPECT_EQ(rows("SELECT \"Mixed\", id FROM scott.q"), (std::vector<std::string>{"x|1"}));
    EXPECT_EQ(codeOf("INSERT INTO Q (ID) VALUES (1)"), 1);
    run(*session, {"DROP TABLE \"SCOTT\".\"Q\""});
    EXPECT_EQ(codeOf("SELECT * FROM PRODUCTS"), 942);
    EXPECT_EQ(codeOf("DROP TABLE PRODUCTS"), 942);
}

TEST_P(Backends, PromisedOracleErrors) {
    run(*session, {"CREATE TABLE T (ID NUMBER PRIMARY KEY, S VARCHAR2(5))",
                   "INSERT INTO T VALUES (1, 'a')", "COMMIT"});
    struct Case {
        const char* sql;
        int code;
    };
    const Case cases[] = {
        {"SELECT * FROM NOSUCH", 942},          {"SELECT * FROM SCOTT.NOSUCH", 942},
        {"INSERT INTO NOSUCH VALUES (1)", 942}, {"INSERT INTO T VALUES (1, 'b')", 1},
        {"SELECT NOSUCH FROM T", 904},          {"UPDATE T SET S = 'x' WHERE ID = :1", 1008},
    };
    for (const auto& c : cases)
        EXPECT_EQ(codeOf(c.sql), c.code) << c.sql;
    // A failed statement undoes only itself: the transaction goes on.
    run(*session, {"INSERT INTO T VALUES (2, 'b')"});
    EXPECT_EQ(codeOf("INSERT INTO T VALUES (2, 'c')"), 1);
    run(*session, {"INSERT INTO T VALUES (3, 'c')", "COMMIT"});
    EXPECT_EQ(rows("SELECT ID, S FROM T ORDER BY ID"),
              (std::vector<std::string>{"1|a", "2|b", "3|c"}));
    try {
        session->execute("INSERT INTO T VALUES (3, 'd')");
        ADD_FAILURE() << "no error";
    } catch (const OracleError& e) {
        // The server names an unnamed key its own way.
        if (backend() == Backend::Embedded) {
            EXPECT_STREQ(e.what(), "ORA-00001: unique constraint (SCOTT.SYS_C_T_1) violated");
        }
        EXPECT_EQ(std::string(e.what()).rfind("ORA-00001: unique constraint (SCOTT.", 0), 0u);
    }

    OracleSession other(configDir());
    other.setLogonUsername("SCOTT");
    other.setLogonPassword("wrong");
    other.setLogonDatabase("ORA");
    EXPECT_EQ(oraCodeOf([&] { other.logOn(); }), 1017);
    other.setLogonUsername("NOBODY");
    EXPECT_EQ(oraCodeOf([&] { other.logOn(); }), 1017);
    other.setLogonUsername("SCOTT");
    other.setLogonPassword("tiger");
    other.setLogonDatabase("NOSUCHDB");
    EXPECT_EQ(oraCodeOf([&] { other.logOn(); }), 12154);
    other.setLogonDatabase("ora");
    EXPECT_EQ(oraCodeOf([&] { other.logOn(); }), 0);
}

TEST_P(Backends, ClientInfoUserAndDual) {
    session->callProcedure("sys.dbms_application_info.set_client_info",
                           {{"client_info", "ORA Fieldsmith"}});
    EXPECT_EQ(rows("SELECT SYS_CONTEXT('USERENV', 'CLIENT_INFO'), USER FROM DUAL"),
              (std::vector<std::string>{"ORA Fieldsmith|SCOTT"}));
    run(*session, {"BEGIN sys.dbms_application_info.set_client_info(client_info => 'x'); END;"});
    EXPECT_EQ(rows("SELECT SYS_CONTEXT('USERENV', 'CLIENT_INFO') FROM SYS.DUAL"),
              (std::vector<std::string>{"x"}));
    EXPECT_EQ(oraCodeOf([&] { session->callProcedure("no.such_procedure", {}); }), 6550);
    // SYSDATE is a date of today's clock, the same inside a statement and later after it.
    run(*session, {"CREATE TABLE D (AT DATE)", "INSERT INTO D VALUES (SYSDATE)"});
    const auto now = session->execute("SELECT SYSDATE, AT FROM D WHERE AT <= SYSDATE");
    ASSERT_EQ(now.rows.size(), 1u);
    EXPECT_EQ(now.columns.at(0).type.kind, ColumnKind::Date);
    EXPECT_EQ(now.rows[0][0].kind, ValueKind::Date);
    EXPECT_LT(now.rows[0][0].whole - now.rows[0][1].whole, 60000);
    EXPECT_EQ(rows("SELECT NVL(NULL, 'n'), 'a' || 'b', 1 || 'x' FROM DUAL"),
              (std::vector<std::string>{"n|ab|1x"}));
    // "||" takes null as empty text, and an empty result is null.
    const auto r = session->execute(
        "SELECT 'a' || NULL || 'c', NVL(NULL, 'x') || (NULL), UPPER('b') || CASE WHEN 1 = 1 "
        "THEN NULL END || :1 FROM DUAL WHERE 'a' || NULL = 'a'",
        {OracleValue::ofText("z")});
    ASSERT_EQ(r.rows.size(), 1u);
    std::vector<std::string> texts;
    for (const auto& v : r.rows[0])
        texts.push_back(v.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"ac", "x", "Bz"}));
    OracleQuery empty(*session);
    empty.setSql("SELECT NULL || '' FROM DUAL");
    empty.open();
    EXPECT_TRUE(empty.isNull(0));
}

TEST_P(Backends, RowIdStaysWithItsRowThroughUpdates) {
    run(*session, {"CREATE TABLE T (ID NUMBER, S VARCHAR2(10))", "INSERT INTO T VALUES (1, 'a')",
                   "INSERT INTO T VALUES (2, 'b')"});
    OracleQuery q(*session);
    q.setSql("SELECT T.ROWID, T.* FROM T T");
    q.open();
    ASSERT_TRUE(q.editable());
    ASSERT_EQ(q.fieldCount(), 3);
    ASSERT_EQ(q.fieldText("ID"), "1");
    EXPECT_EQ(q.column(0).type.kind, ColumnKind::RowId);
    // The same row edited twice, then the other row: each post reaches its own row.
    for (const char* s : {"x", "y"}) {
        q.edit();
        q.setFieldText("S", s);
        q.post();
    }
    q.next();
    q.edit();
    q.setFieldText("S", "z");
    q.post();
    EXPECT_EQ(rows("SELECT ID, S FROM T ORDER BY ID"), (std::vector<std::string>{"1|y", "2|z"}));
    const auto first = session->execute("SELECT ROWID FROM T WHERE ID = 1").rows.at(0).at(0);
    const auto r = session->execute("UPDATE T SET S = 'w' WHERE ROWID = :1", {first});
    EXPECT_EQ(r.rowsAffected, 1);
    EXPECT_EQ(rows("SELECT S FROM T WHERE ID = 1"), (std::vector<std::string>{"w"}));
}

// Text meets NUMBER and DATE columns in the session's formats, as literal and as value.
TEST_P(Backends, TextIntoNumberAndDateColumnsReadsInTheSessionFormats) {
    session->setFormats(engine::FormatSettings::german());
    run(*session, {"CREATE TABLE T (ID NUMBER, N NUMBER(8,2), D DATE)",
                   "INSERT INTO T (ID, N, D) VALUES (1, '1234,5', '05.03.2024 13:05:09')",
                   "UPDATE T SET N = '-0,125' WHERE ID = 1"});
    session->execute("INSERT INTO T VALUES (:1, :2, :3)",
                     {OracleValue::ofInteger(2), OracleValue::ofText("7,25"),
                      OracleValue::ofText("29.02.2024")});
    EXPECT_EQ(rows("SELECT ID, N, D FROM T ORDER BY ID"),
              (std::vector<std::string>{"1|-0,13|05.03.2024 13:05:09", "2|7,25|29.02.2024"}));
    EXPECT_EQ(codeOf("INSERT INTO T (ID, N) VALUES (3, '12abc')"), 1722);
    EXPECT_EQ(codeOf("INSERT INTO T (ID, D) VALUES (3, '2024-13-45')"), 1861);
}

// A unidirectional walk goes past the server's batches and on over a commit. On PostgreSQL a
// NUL written inside a literal comes back (the embedded backend refuses it with an error).
TEST_P(Backends, UnidirectionalWalkCrossesBatchesAndCommits) {
    run(*session, {"CREATE TABLE T (ID NUMBER, S VARCHAR2(10))"});
    OracleQuery insert(*session);
    insert.setSql("INSERT INTO T (ID, S) VALUES (:1, 'a' || :2)");
    const int total = 1001;
    for (int id = 1; id <= total; ++id) {
        insert.parameters() = {OracleValue::ofInteger(id), OracleValue::ofText(std::to_string(id))};
        insert.open();
    }
    const bool nul = backend() == Backend::Postgres;
    run(*session,
        {nul ? std::string("INSERT INTO T (ID, S) VALUES (0, 'x\0y')", 39)
             : std::string("INSERT INTO T (ID, S) VALUES (0, CHR(120) || CHR(0) || 'y')")});
    session->commit();
    OracleQuery walk(*session);
    walk.setUniDirectional(true);
    walk.setSql("SELECT ID, S FROM T ORDER BY ID");
    walk.open();
    ASSERT_FALSE(walk.eof());
    EXPECT_EQ(walk.value(1).text, std::string("x\0y", 3));
    int expected = 0;
    for (; !walk.eof(); walk.next()) {
        ASSERT_EQ(walk.fieldText(0), std::to_string(expected));
        if (expected == 500) run(*session, {"DELETE FROM T WHERE ID = 1", "COMMIT"});
        ++expected;
    }
    EXPECT_EQ(expected, total + 1);
}

INSTANTIATE_TEST_SUITE_P(On, Backends, ::testing::Values(Backend::Embedded, Backend::Postgres),
                         [](const auto& info) { return oratest::backendName(info.param); });

} // namespace
