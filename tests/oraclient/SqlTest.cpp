// SQL on the embedded backend: the DDL the program generates, read back through the layer
// and through SQLite itself; Oracle error texts; schemas; values that must survive.
#include "OracleTestSupport.h"

#include "oraclient/OracleQuery.h"

#include <gtest/gtest.h>

using namespace fieldsmith;
using namespace fieldsmith::oraclient;
using oratest::oraCodeOf;
using oratest::sqliteRows;

namespace {

class Sql : public ::testing::Test, public oratest::OracleFixture {
protected:
    Sql() : session(logOn()) {}

    //! Opens a query and returns it; a failure fails the test.
    std::unique_ptr<OracleQuery> query(const std::string& sql) {
        auto q = std::make_unique<OracleQuery>(*session);
        q->setSql(sql);
        try {
            q->open();
        } catch (const OracleError& e) {
            ADD_FAILURE() << sql << ": " << e.what();
        }
        return q;
    }
    std::string errorOf(const std::string& sql) {
        OracleQuery q(*session);
        q.setSql(sql);
        try {
            q.open();
        } catch (const OracleError& e) {
            return e.what();
        }
        return "no error";
    }
    std::filesystem::path schemaFile(const std::string& user) const {
        return databaseDir() / (user + ".sqlite");
    }

    std::unique_ptr<OracleSession> session;
};

// The statement texts the Create Table page builds: one piece per line.
const char* kCreateOrders = "CREATE TABLE SCOTT.ORDERS ( \n"
                            "ORDERNO \nFLOAT\n not null\n , \n"
                            "DAT_ \nDATE\n null\n , \n"
                            "CUSTOMER_NAME \nVARCHAR2\n(30)\n null\n , \n"
                            "NOTES \nCLOB\n null\n , \n"
                            "Level_ \nFLOAT\n not null\n"
                            " constraint KR4_PI_ORDERS PRIMARY KEY (ORDERNO, Level_)\n ) ";

TEST_F(Sql, DdlOfTheCreateTablePage) {
    EXPECT_EQ(errorOf("DROP TABLE SCOTT.ORDERS"), "ORA-00942: table or view does not exist");
    query(kCreateOrders);
    query(" CREATE INDEX KR4_I_ORDERS_0 on SCOTT.ORDERS (ORDERNO, LEVEL_)");
    query(" CREATE INDEX KR4_I_ORDERS_1 on SCOTT.ORDERS (DAT_)");
    query(" CREATE INDEX KR4_I_ORDERS_2 on SCOTT.ORDERS (CUSTOMER_NAME, DAT_)");

    auto q = query("SELECT T.ROWID, T.* FROM SCOTT.ORDERS T ");
    ASSERT_TRUE(q->editable());
    std::vector<std::string> names;
    for (int i = 0; i < q->fieldCount(); ++i)
        names.push_back(q->fieldName(i) + " " + q->column(i).type.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ROWID ROWID", "ORDERNO FLOAT", "DAT_ DATE",
                                               "CUSTOMER_NAME VARCHAR2(30)", "NOTES CLOB",
                                               "LEVEL_ FLOAT"}));
    q->insert();
    q->setFieldText("orderno", "1001");
    q->setFieldText("dat_", "2024-02-29 13:05:09");
    q->setFieldText("Customer_Name", "O'Neil & \"Sons\"");
    q->setFieldText("NOTES", "line one\r\nline two");
    q->setFieldText("LEVEL_", "2.5");
    q->post();
    session->commit();

    // Through the layer.
    auto back = query("SELECT * FROM SCOTT.ORDERS");
    ASSERT_EQ(back->recordCount(), 1);
    EXPECT_EQ(back->fieldText("ORDERNO"), "1001");
    EXPECT_EQ(back->fieldText("DAT_"), "2024-02-29 13:05:09");
    EXPECT_EQ(back->fieldText("CUSTOMER_NAME"), "O'Neil & \"Sons\"");
    EXPECT_EQ(back->fieldText("NOTES"), "line one\r\nline two");
    EXPECT_EQ(back->fieldText("LEVEL_"), "2.5");

    // Through SQLite: the declared types, the key as a unique index, the indexes by name,
    // sortable date text, numbers as numbers, line breaks as LF.
    EXPECT_EQ(
        sqliteRows(schemaFile("SCOTT"),
                   "SELECT name, type, \"notnull\" FROM pragma_table_info('ORDERS')"),
        (std::vector<std::string>{"ORDERNO|FLOAT|1", "DAT_|DATE|0", "CUSTOMER_NAME|VARCHAR2(30)|0",
                                  "NOTES|CLOB|0", "LEVEL_|FLOAT|1"}));
    EXPECT_EQ(sqliteRows(schemaFile("SCOTT"),
                         "SELECT name, \"unique\" FROM pragma_index_list('ORDERS') ORDER BY name"),
              (std::vector<std::string>{"KR4_I_ORDERS_0|0", "KR4_I_ORDERS_1|0", "KR4_I_ORDERS_2|0",
                                        "KR4_PI_ORDERS|1"}));
    EXPECT_EQ(sqliteRows(schemaFile("SCOTT"),
                         "SELECT group_concat(name, ',') FROM pragma_index_info('KR4_PI_ORDERS')"),
              std::vector<std::string>{"ORDERNO,LEVEL_"});
    EXPECT_EQ(
        sqliteRows(
            schemaFile("SCOTT"),
            "SELECT typeof(ORDERNO), ORDERNO, DAT_, CUSTOMER_NAME, NOTES, LEVEL_ FROM ORDERS"),
        std::vector<std::string>{
            "real|1001.0|2024-02-29 13:05:09|O'Neil & \"Sons\"|line one\nline two|2.5"});

    // Index names live in the schema: a second index of that name is refused.
    EXPECT_EQ(errorOf("CREATE INDEX KR4_I_ORDERS_0 ON ORDERS (NOTES)"),
              "ORA-00955: name is already used by an existing object");
    // Dropping the table takes its indexes along.
    query("DROP TABLE SCOTT.ORDERS");
    EXPECT_TRUE(sqliteRows(schemaFile("SCOTT"), "SELECT name FROM sqlite_schema").empty());
}

TEST_F(Sql, OracleErrorTexts) {
    query("CREATE TABLE T (ID NUMBER(5) CONSTRAINT T_PK PRIMARY KEY, NAME VARCHAR2(5) NOT NULL, "
          "AMOUNT NUMBER(6,2), D DATE)");
    query("INSERT INTO T (ID, NAME) VALUES (1, 'one')");
    struct Case {
        const char* sql;
        const char* message;
    };
    const Case cases[] = {
        {"SELECT * FROM MISSING", "ORA-00942: table or view does not exist"},
        {"SELECT * FROM SALES.MISSING", "ORA-00942: table or view does not exist"},
        {"SELECT * FROM NOBODY.T", "ORA-00942: table or view does not exist"},
        {"INSERT INTO T (ID, NAME) VALUES (1, 'again')",
         "ORA-00001: unique constraint (SCOTT.T_PK) violated"},
        {"INSERT INTO T (ID, NAME) VALUES (2, 'toolong')",
         "ORA-12899: value too large for column \"SCOTT\".\"T\".\"NAME\" (maximum: 5)"},
        {"INSERT INTO T (ID) VALUES (3)",
         "ORA-01400: cannot insert NULL into (\"SCOTT\".\"T\".\"NAME\")"},
        {"INSERT INTO T (ID, NAME) VALUES (4, '')",
         "ORA-01400: cannot insert NULL into (\"SCOTT\".\"T\".\"NAME\")"},
        {"UPDATE T SET NAME = NULL", "ORA-01407: cannot update (\"SCOTT\".\"T\".\"NAME\") to NULL"},
        {"INSERT INTO T (ID, NAME) VALUES ('x1', 'a')", "ORA-01722: invalid number"},
        {"INSERT INTO T (ID, NAME, AMOUNT) VALUES (5, 'a', 12345.5)",
         "ORA-01438: value larger than specified precision allowed for this column"},
        {"INSERT INTO T (ID, NAME, D) VALUES (6, 'a', '31.02.2020')",
         "ORA-01861: literal does not match format string"},
        {"SELECT NOSUCH FROM T", "ORA-00904: \"NOSUCH\": invalid identifier"},
        {"CREATE TABLE T (X NUMBER)", "ORA-00955: name is already used by an existing object"},
        {"CREATE TABLE U (X TEXTBLOB)", "ORA-00902: invalid datatype"},
        {"CREATE TABLE U (X VARCHAR2)", "ORA-00906: missing left parenthesis"},
        {"CREATE TABLE NOBODY.U (X NUMBER)", "ORA-01918: user 'NOBODY' does not exist"},
        {"DROP INDEX NO_SUCH_INDEX", "ORA-01418: specified index does not exist"},
        {"FROBNICATE T", "ORA-00900: invalid SQL statement"},
        {"SELECT 'open FROM DUAL", "ORA-01756: quoted string not properly terminated"},
        {"SELECT * FROM T WHERE ID = :1", "ORA-01008: not all variables bound"},
        {"CREATE VIEW V AS SELECT * FROM T", "ORA-03001: unimplemented feature"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(errorOf(c.sql), c.message) << c.sql;
    // The failed statements changed nothing.
    EXPECT_EQ(query("SELECT COUNT(*) FROM T")->fieldText(0), "1");
}

TEST_F(Sql, SchemasResolveByOwnerAndUnqualifiedNamesStayAtHome) {
    auto sales = logOn("SALES", "s3cret");
    oratest::OracleFixture::run(*sales,
                                {"CREATE TABLE PRICES (ITEM VARCHAR2(10), PRICE NUMBER(8,2))",
                                 "INSERT INTO PRICES VALUES ('nut', 1.25)", "COMMIT"});
    // SCOTT reaches SALES's table by its owner, never by the bare name.
    EXPECT_EQ(query("SELECT PRICE FROM SALES.PRICES")->fieldText(0), "1.25");
    EXPECT_EQ(errorOf("SELECT * FROM PRICES"), "ORA-00942: table or view does not exist");
    EXPECT_EQ(errorOf("DROP TABLE PRICES"), "ORA-00942: table or view does not exist");
    EXPECT_EQ(errorOf("DELETE FROM PRICES"), "ORA-00942: table or view does not exist");
    // A table of the same name in SCOTT's schema is SCOTT's; the owner may be given too.
    query("CREATE TABLE PRICES (ITEM VARCHAR2(10))");
    query("INSERT INTO scott.prices VALUES ('bolt')");
    EXPECT_EQ(query("SELECT ITEM FROM PRICES")->fieldText(0), "bolt");
    EXPECT_EQ(query("SELECT P.ITEM FROM SCOTT.PRICES P")->fieldText("item"), "bolt");
    query("CREATE INDEX SALES.BY_ITEM ON SALES.PRICES (ITEM)");
    EXPECT_EQ(sqliteRows(schemaFile("SALES"), "SELECT name FROM pragma_index_list('PRICES')"),
              std::vector<std::string>{"BY_ITEM"});
    EXPECT_EQ(errorOf("ATTACH DATABASE '/tmp/x.sqlite' AS X"), "ORA-00900: invalid SQL statement");
}

TEST_F(Sql, ValuesSurviveNulBytesQuotesAndPlaceholders) {
    query("CREATE TABLE V (ID INTEGER, S VARCHAR2(20), L CLOB, B BLOB)");
    const std::string withNul("a\0b'c\"d", 7);
    const std::string bytes("\x00\xff\x01'", 4);
    OracleQuery insert(*session);
    insert.setSql("INSERT INTO V (ID, S, L, B) VALUES (:id, :s, :s, :b)");
    insert.parameters() = {OracleValue::ofInteger(1), OracleValue::ofText(withNul),
                           OracleValue::ofBytes(bytes)};
    insert.open();
    EXPECT_EQ(insert.rowsProcessed(), 1);
    query("INSERT INTO V (ID, S) VALUES (2, 'it''s ''quoted''')");
    query("INSERT INTO V (ID, S) VALUES (3, '  ')");
    auto q = query("SELECT S, L, B FROM V ORDER BY ID");
    EXPECT_EQ(q->fieldText("S"), withNul);
    EXPECT_EQ(q->fieldText("L"), withNul);
    EXPECT_EQ(q->fieldText("B"), bytes);
    q->next();
    EXPECT_EQ(q->fieldText("S"), "it's 'quoted'");
    q->next();
    EXPECT_EQ(q->fieldText("S"), ""); // blanks only: trimmed on reading, stored as they are
    session->commit();
    EXPECT_EQ(sqliteRows(schemaFile("SCOTT"),
                         "SELECT length(CAST(S AS BLOB)), hex(B) FROM V WHERE ID = 1"),
              std::vector<std::string>{"7|00FF0127"});
    // A NUL byte does not get a long text past the length check.
    OracleQuery tooLong(*session);
    tooLong.setSql("INSERT INTO V (ID, S) VALUES (4, :1)");
    tooLong.parameters() = {OracleValue::ofText(std::string("ab\0", 3) + std::string(30, 'x'))};
    EXPECT_EQ(oraCodeOf([&] { tooLong.open(); }), 12899);
}

TEST_F(Sql, OracleFunctionsAndPseudoColumns) {
    query("CREATE TABLE D (ID NUMBER, AT DATE, N VARCHAR2(5))");
    query(
        "INSERT INTO D VALUES (1, TO_DATE('05.03.2007 09:04:07', 'DD.MM.YYYY HH24:MI:SS'), NULL)");
    query("INSERT INTO D VALUES (2, DATE '2001-12-31', 'x')");
    query("INSERT INTO D VALUES (3, SYSDATE, 'now')");
    struct Case {
        const char* sql;
        const char* text;
    };
    const Case cases[] = {
        {"SELECT AT FROM D WHERE ID = 1", "2007-03-05 09:04:07"},
        {"SELECT AT FROM D WHERE ID = 2", "2001-12-31"},
        {"SELECT NVL(N, 'none') FROM D WHERE ID = 1", "none"},
        {"SELECT NVL(N, 'none') FROM D WHERE ID = 2", "x"},
        {"SELECT TO_CHAR(AT, 'DD.MM.YYYY HH24:MI') FROM D WHERE ID = 1", "05.03.2007 09:04"},
        {"SELECT TO_DATE('2020-01-02', 'YYYY-MM-DD') FROM DUAL", "2020-01-02"},
        {"SELECT COUNT(*) FROM SYS.DUAL", "1"},
        {"SELECT DUMMY FROM DUAL", "X"},
        {"SELECT COUNT(*) FROM D WHERE AT <= SYSDATE", "3"},
        {"SELECT TO_NUMBER('12.50') FROM DUAL", "12.5"},
        {"SELECT ID FROM D WHERE AT > TO_DATE('2002-01-01', 'YYYY-MM-DD') AND ID < 3", "1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(query(c.sql)->fieldText(0), c.text) << c.sql;
    EXPECT_EQ(query("SELECT SYSDATE FROM DUAL")->column(0).type.kind, ColumnKind::Date);
}

} // namespace
