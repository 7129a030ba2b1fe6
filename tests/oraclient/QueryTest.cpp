// Query datasets: values as text in the session's formats and preferences, the editable
// ROWID result, and what other sessions see before and after a commit or a killed process.
#include "OracleTestSupport.h"

#include "oraclient/OracleError.h"
#include "oraclient/OracleQuery.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using namespace fieldsmith;
using namespace fieldsmith::oraclient;
using oratest::oraCodeOf;

namespace {

// Every case runs on the embedded backend and on the PostgreSQL test server.
class Query : public ::testing::TestWithParam<oratest::Backend>, public oratest::OracleFixture {
protected:
    Query() : OracleFixture(GetParam()) {}
    void SetUp() override {
        if (!unavailable().empty()) GTEST_SKIP() << unavailable();
        session = logOn();
        run(*session,
            {"CREATE TABLE ITEMS (ID NUMBER(6) NOT NULL, NAME VARCHAR2(20), PRICE NUMBER(8,2), "
             "WEIGHT FLOAT, SEEN DATE, STAMP TIMESTAMP, NOTE CLOB, "
             "CONSTRAINT ITEMS_PK PRIMARY KEY (ID))"});
    }

    std::unique_ptr<OracleQuery> editable(OracleSession& s) {
        auto q = std::make_unique<OracleQuery>(s);
        q->sql() = {"SELECT T.ROWID, T.* FROM SCOTT.ITEMS T "};
        q->open();
        return q;
    }
    static std::int64_t count(OracleSession& s) {
        OracleQuery q(s);
        q.setSql("SELECT COUNT(*) FROM SCOTT.ITEMS");
        q.open();
        return std::stoll(q.fieldText(0));
    }

    std::unique_ptr<OracleSession> session;
};

TEST_P(Query, EditableResultInsertsPostsAndEditsThroughRowId) {
    auto q = editable(*session);
    ASSERT_TRUE(q->editable());
    EXPECT_EQ(q->recordCount(), 0);
    for (const char* id : {"1", "2"}) {
        q->insert();
        q->setFieldText("id", id);
        q->setFieldText("Name", std::string("item ") + id);
        q->post();
        EXPECT_FALSE(q->fieldText("ROWID").empty());
    }
    session->commit();
    EXPECT_EQ(q->recordCount(), 2);
    q->first();
    q->edit();
    q->setFieldText("PRICE", "9.99");
    q->post();
    auto back = editable(*session);
    ASSERT_EQ(back->recordCount(), 2);
    EXPECT_EQ(back->fieldText("NAME"), "item 1");
    EXPECT_EQ(back->fieldText("PRICE"), "9.99");
    back->next();
    EXPECT_EQ(back->fieldText("NAME"), "item 2");
    EXPECT_EQ(back->fieldText("PRICE"), "");
    // Only the ROWID result can be changed; the ROWID itself cannot be set.
    OracleQuery plain(*session);
    plain.setSql("SELECT * FROM ITEMS");
    plain.open();
    EXPECT_FALSE(plain.editable());
    EXPECT_EQ(oraCodeOf([&] { plain.insert(); }), 1732);
    back->insert();
    EXPECT_EQ(oraCodeOf([&] { back->setFieldText("ROWID", "1"); }), 1733);
    EXPECT_EQ(oraCodeOf([&] { back->setFieldText("NOSUCH", "1"); }), 904);
}

TEST_P(Query, InsertedRowsNeedNotJoinTheResult) {
    auto q = editable(*session);
    q->setKeepInsertedRows(false);
    for (const char* id : {"1", "2", "3"}) {
        q->insert();
        q->setFieldText("ID", id);
        q->post();
        EXPECT_FALSE(q->editing());
    }
    EXPECT_EQ(q->recordCount(), 0) << "the dataset keeps none of the rows it wrote";
    session->commit();
    EXPECT_EQ(editable(*session)->recordCount(), 3) << "the table has every one";
}

// Rows the dataset does not keep go through the session's queue, many to a statement: every
// value arrives as a row of its own would, anything else on the session sees them, a
// rollback drops them, and a failing row stops the queue where it stands.
TEST_P(Query, QueuedRowsArriveAsSingleRowsWouldAndStopAtAFailingOne) {
    session->setFormats(engine::FormatSettings::german());
    auto q = editable(*session);
    q->setKeepInsertedRows(false);
    auto post = [&](int id) {
        q->insert();
        q->setFieldText("ID", std::to_string(id));
        q->setFieldText("NAME", "n" + std::to_string(id));
        q->setFieldText("PRICE", id % 3 ? std::to_string(id) + ",25" : ""); // a null in between
        q->setFieldText("SEEN", "01.02.2024");
        q->post();
    };
    for (int id = 1; id <= 10; ++id)
        post(id);
    EXPECT_EQ(count(*session), 10) << "a statement on the session writes the queue first";
    for (int id = 11; id <= 20; ++id)
        post(id);
    session->rollback();
    EXPECT_EQ(count(*session), 0) << "a rollback drops the queued rows with the rest";

    // Row 700 fails, as the database finds when it writes the queue: at a later post or at
    // the commit.
    struct Case {
        const char* what;
        int code;
        std::function<void()> badRow;
    } cases[] = {
        {"a repeated key", 1, [&] { post(100); }},
        {"a name too long for its column", 12899,
         [&] {
             q->insert();
             q->setFieldText("ID", "700");
             q->setFieldText("NAME", std::string(21, 'x'));
             q->setFieldText("PRICE", "");
             q->setFieldText("SEEN", "01.02.2024");
             q->post();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        run(*session, {"DELETE FROM ITEMS"});
        session->commit();
        int thrownAt = 0, code = 0;
        for (int k = 1; k <= 1000 && !thrownAt; ++k) {
            try {
                k == 700 ? c.badRow() : post(k);
            } catch (const OracleError& e) {
                thrownAt = k;
                code = e.code();
            }
        }
        if (!thrownAt) {
            try {
                session->commit();
            } catch (const OracleError& e) {
                thrownAt = 1001;
                code = e.code();
            }
        }
        q->cancel();
        ASSERT_GE(thrownAt, 700);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(session->droppedRows(), static_cast<std::size_t>(std::min(thrownAt, 1000) - 699))
            << "the failing row and those queued after it";
        session->commit();
        EXPECT_EQ(count(*session), 699) << "the rows before the failing one stay, once each";
        OracleQuery back(*session);
        back.setSql("SELECT ID, NAME, PRICE, SEEN FROM ITEMS ORDER BY ID");
        back.open();
        for (int id = 1; id <= 699; ++id, back.next()) {
            ASSERT_FALSE(back.eof());
            ASSERT_EQ(back.fieldText(0), std::to_string(id));
            ASSERT_EQ(back.fieldText(1), "n" + std::to_string(id));
            ASSERT_EQ(back.fieldText(2), id % 3 ? std::to_string(id) + ",25" : "") << id;
            ASSERT_EQ(back.fieldText(3), "01.02.2024") << id;
        }
    }
}

TEST_P(Query, RowsSettingOtherColumnsThanTheRowBeforeKeepTheirOwnValues) {
    // The INSERT of one row is reused for the next only when that sets the same columns.
    struct Row {
        const char* id;
        const char* name;
        const char* price;
    } rows[] = {{"1", "a", "1.5"},   {"2", "b", "2.5"}, {"3", nullptr, "3.5"},
                {"4", "d", nullptr}, {"5", "e", "5.5"}, {"6", "f", "6.5"}};
    for (const bool keep : {true, false}) {
        SCOPED_TRACE(keep ? "rows kept" : "rows not kept");
        run(*session, {"DELETE FROM ITEMS"});
        auto q = editable(*session);
        q->setKeepInsertedRows(keep);
        for (const Row& r : rows) {
            q->insert();
            q->setFieldText("ID", r.id);
            if (r.name) q->setFieldText("NAME", r.name);
            if (r.price) q->setFieldText("PRICE", r.price);
            q->post();
            if (keep) {
                EXPECT_EQ(q->fieldText("ID"), r.id);
                EXPECT_EQ(q->fieldText("NAME"), r.name ? r.name : "");
            }
        }
        EXPECT_EQ(q->recordCount(), keep ? 6 : 0);
        // A row with no column set (refused: ID is NOT NULL), then one with columns again.
        q->insert();
        EXPECT_NE(oraCodeOf([&] { q->post(); }), 0);
        q->insert();
        q->setFieldText("ID", "8");
        q->setFieldText("NAME", "h");
        q->setFieldText("PRICE", "8.5");
        q->post();
        OracleQuery back(*session);
        back.setSql("SELECT ID, NAME, PRICE FROM ITEMS ORDER BY ID");
        back.open();
        for (const Row& r : rows) {
            ASSERT_FALSE(back.eof());
            EXPECT_EQ(back.fieldText(0), r.id);
            EXPECT_EQ(back.fieldText(1), r.name ? r.name : "") << r.id;
            EXPECT_EQ(back.fieldText(2), r.price ? r.price : "") << r.id;
            back.next();
        }
        ASSERT_FALSE(back.eof());
        EXPECT_EQ(back.fieldText(0), "8");
        EXPECT_EQ(back.fieldText(1), "h");
        EXPECT_EQ(back.fieldText(2), "8.5");
        back.next();
        EXPECT_TRUE(back.eof());
        session->rollback();
    }
}

TEST_P(Query, ValuesAsTextInTheSessionFormats) {
    session->setFormats(engine::FormatSettings::german());
    struct Case {
        const char* column;
        std::string written;
        std::string read;
    };
    const Case cases[] = {
        {"PRICE", "1234,5", "1234,5"},
        {"PRICE", "-0,125", "-0,13"}, // NUMBER(8,2) rounds to its scale
        {"PRICE", "100000", "100000"},
        {"PRICE", "2.25", "2,25"}, // a point is accepted on input too
        {"WEIGHT", "0,1", "0,1"},
        {"WEIGHT", "1e20", "100000000000000000000"},
        {"WEIGHT", "0,000001", "0,000001"},
        {"SEEN", "29.02.2024", "29.02.2024"},
        {"SEEN", "29.02.2024 13:05:09", "29.02.2024 13:05:09"},
        {"SEEN", "31.12.1999 00:00:00", "31.12.1999"}, // midnight: no time
        {"SEEN", "30.12.1899", ""},                    // the zero date is null
        {"NAME", "trailing   ", "trailing"},
        {"NAME", "a\r\nb", "a\r\nb"},
        {"NAME", "", ""},
        {"NOTE", "one\r\ntwo\nthree", "one\r\ntwo\r\nthree"},
    };
    int id = 0;
    for (const Case& c : cases) {
        auto q = editable(*session);
        q->insert();
        q->setFieldText("ID", std::to_string(++id));
        q->setFieldText(c.column, c.written);
        q->post();
        OracleQuery r(*session);
        r.setSql("SELECT " + std::string(c.column) +
                 " FROM ITEMS WHERE ID = " + std::to_string(id));
        r.open();
        EXPECT_EQ(r.fieldText(0), c.read) << c.column << " written as " << c.written;
    }
    // Line breaks are kept as LF and carriage returns dropped when written.
    session->commit();
    if (backend() != oratest::Backend::Embedded) return;
    EXPECT_EQ(oratest::sqliteRows(databaseDir() / "SCOTT.sqlite",
                                  "SELECT hex(NAME) FROM ITEMS WHERE ID = 13"),
              std::vector<std::string>{"610A62"});
}

TEST_P(Query, PreferencesCanBeTurnedOff) {
    OracleQuery insert(*session);
    insert.setSql("INSERT INTO ITEMS (ID, NAME) VALUES (1, :1)");
    insert.parameters() = {OracleValue::ofText("x\nb  ")};
    insert.open();
    OracleQuery q(*session);
    q.setSql("SELECT NAME FROM ITEMS");
    q.open();
    EXPECT_EQ(q.fieldText(0), "x\r\nb");
    session->preferences().trimStringFields = false;
    session->preferences().convertCrLf = false;
    EXPECT_EQ(q.fieldText(0), "x\nb  ");
}

TEST_P(Query, BadValuesNameValueAndColumn) {
    auto q = editable(*session);
    q->insert();
    try {
        q->setFieldText("PRICE", "12abc");
        FAIL() << "no error for a bad number";
    } catch (const OracleError& e) {
        EXPECT_STREQ(e.what(), "ORA-01722: invalid number ('12abc' for column PRICE)");
    }
    try {
        q->setFieldText("SEEN", "2024-13-45");
        FAIL() << "no error for a bad date";
    } catch (const OracleError& e) {
        EXPECT_STREQ(
            e.what(),
            "ORA-01861: literal does not match format string ('2024-13-45' for column SEEN)");
    }
    q->setFieldText("ID", "1");
    q->setFieldText("NAME", std::string(21, 'x'));
    EXPECT_EQ(oraCodeOf([&] { q->post(); }), 12899);
}

TEST_P(Query, OtherSessionsSeeOnlyCommittedRows) {
    auto other = logOn();
    run(*session, {"INSERT INTO ITEMS (ID) VALUES (1)"});
    EXPECT_EQ(count(*session), 1);
    EXPECT_EQ(count(*other), 0) << "uncommitted row visible to another session";
    session->commit();
    EXPECT_EQ(count(*other), 1);
    run(*session, {"INSERT INTO ITEMS (ID) VALUES (2)", "DELETE FROM ITEMS WHERE ID = 1"});
    session->rollback();
    EXPECT_EQ(count(*session), 1);
    EXPECT_EQ(count(*other), 1);
    // COMMIT and ROLLBACK as statements, and DDL committing what is pending.
    run(*session,
        {"INSERT INTO ITEMS (ID) VALUES (3)", "ROLLBACK", "INSERT INTO ITEMS (ID) VALUES (4)"});
    EXPECT_EQ(count(*other), 1);
    run(*session, {"CREATE TABLE OTHER (X NUMBER)"});
    EXPECT_EQ(count(*other), 2);
}

TEST_P(Query, KilledProcessKeepsOnlyCommittedRows) {
    session.reset();
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        auto s = logOn();
        OracleQuery q(*s);
        q.setSql("INSERT INTO ITEMS (ID) VALUES (:1)");
        for (int id = 1; id <= 20; ++id) {
            q.parameters() = {OracleValue::ofInteger(id)};
            q.open();
            if (id <= 10) s->commit();
        }
        ::kill(::getpid(), SIGKILL);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    auto after = logOn();
    EXPECT_EQ(count(*after), 10);
}

} // namespace

namespace {

// A unidirectional dataset hands the rows out one at a time, in the result's order, and
// statements run on the session between two rows do not disturb it.
TEST_P(Query, UnidirectionalResultFetchesRowByRow) {
    run(*session, {"INSERT INTO ITEMS (ID, NAME) VALUES (1, 'a')",
                   "INSERT INTO ITEMS (ID, NAME) VALUES (2, 'b')",
                   "INSERT INTO ITEMS (ID, NAME) VALUES (3, 'c')"});
    OracleQuery q(*session);
    q.setUniDirectional(true);
    q.setSql("SELECT ID, NAME FROM ITEMS ORDER BY ID");
    q.open();
    std::vector<std::string> seen;
    for (; !q.eof(); q.next()) {
        seen.push_back(q.fieldText(0) + q.fieldText(1));
        EXPECT_EQ(q.recordCount(), static_cast<std::int64_t>(seen.size()));
        // The same statement text and a change, while the result is open.
        OracleQuery other(*session);
        other.setSql("SELECT ID, NAME FROM ITEMS ORDER BY ID");
        other.open();
        other.setSql("UPDATE ITEMS SET NAME = NAME WHERE ID = 1");
        other.open();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1a", "2b", "3c"}));
    EXPECT_FALSE(q.editable());
    EXPECT_NE(oraCodeOf([&] { q.first(); }), 0) << "no way back";

    OracleQuery none(*session);
    none.setUniDirectional(true);
    none.setSql("SELECT ID FROM ITEMS WHERE ID > 10");
    none.open();
    EXPECT_TRUE(none.eof());
    EXPECT_EQ(none.recordCount(), 0);
    none.setSql("SELECT * FROM NO_SUCH_TABLE");
    EXPECT_EQ(oraCodeOf([&] { none.open(); }), 942);
    EXPECT_FALSE(none.active());
}

// CHR gives characters that a literal cannot hold, NUL included, and a block may change
// data between its calls.
TEST_P(Query, ChrAndDataChangesInsideABlock) {
    run(*session, {"BEGIN\n  INSERT INTO ITEMS (ID, NAME) VALUES (1, 'a' || CHR(0) || 'b');\n"
                   "  UPDATE ITEMS SET NAME = NAME || CHR(13) || CHR(10) WHERE ID = 1;\nEND;"});
    OracleQuery q(*session);
    q.setSql("SELECT NAME FROM ITEMS");
    q.open();
    ASSERT_FALSE(q.eof());
    EXPECT_EQ(q.value(0).text, std::string("a\0b\r\n", 5));
}

} // namespace

INSTANTIATE_TEST_SUITE_P(On, Query,
                         ::testing::Values(oratest::Backend::Embedded, oratest::Backend::Postgres),
                         [](const auto& info) { return oratest::backendName(info.param); });
