// Shared and exclusive opens are OS locks seen by other opens and other processes, and a
// table survives its writer being killed at any moment.
#include "support/TempDir.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace fieldsmith::engine;
using fieldsmith::test::TempDir;

namespace {

class Locking : public ::testing::Test {
protected:
    Locking() {
        session.addStandardAlias("WORK", dir.path());
        Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("LOCKED");
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true}, {"NAME", FieldType::ftString, 40, false}};
        t.indexDefs() = {{"", "ID", ixPrimary}};
        t.createTable();
    }

    std::unique_ptr<Table> table(bool exclusive) {
        auto t = std::make_unique<Table>(session);
        t->setDatabaseName("WORK");
        t->setTableName("LOCKED");
        t->setExclusive(exclusive);
        return t;
    }

    // Opens and expects the refusal of a table in use.
    void expectInUse(Table& t) {
        try {
            t.open();
            FAIL() << "the open was not refused";
        } catch (const EngineError& e) {
            EXPECT_TRUE(e.isDatabaseError());
            EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos) << e.what();
        }
    }

    TempDir dir;
    Session session;
};

// Within one session an exclusive open makes the program's own shared opens give way (they
// are closed), while an exclusive holder keeps refusing. Another session in the same process
// stands for another program: it is refused whatever the first open was.
TEST_F(Locking, OpensInOneProcessSeeEachOther) {
    struct Case {
        const char* what;
        bool firstExclusive, secondExclusive, sameSession, refused, firstClosed;
    } cases[] = {
        {"shared, shared", false, false, true, false, false},
        {"own shared gives way to exclusive", false, true, true, false, true},
        {"exclusive refuses shared", true, false, true, true, false},
        {"exclusive refuses exclusive", true, true, true, true, false},
        {"other session: shared refuses exclusive", false, true, false, true, false},
        {"other session: exclusive refuses shared", true, false, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Session other;
        other.addStandardAlias("WORK", dir.path());
        auto a = table(c.firstExclusive);
        a->open();
        auto b = std::make_unique<Table>(c.sameSession ? session : other);
        b->setDatabaseName("WORK");
        b->setTableName("LOCKED");
        b->setExclusive(c.secondExclusive);
        if (c.refused) {
            expectInUse(*b);
        } else {
            EXPECT_NO_THROW(b->open());
        }
        EXPECT_EQ(a->active(), !c.firstClosed);
        a->close();
        if (c.refused) {
            EXPECT_NO_THROW(b->open()) << "closing the first open releases its lock";
        }
    }
}

TEST_F(Locking, AnotherProcessHoldingTheTableRefusesAnExclusiveOpen) {
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto t = table(false);
        t->open();
        char c = 'r';
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        t->close();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    auto mine = table(true);
    expectInUse(*mine);
    auto shared = table(false);
    EXPECT_NO_THROW(shared->open());
    shared->close();
    (void)!write(release[1], &c, 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_NO_THROW(mine->open());
}

// A child posts one record after the other and reports each post; it is killed in the
// middle. Every record it reported must be there, and the table must open.
TEST_F(Locking, KilledWriterLeavesEveryEarlierPost) {
    {
        auto t = table(false);
        t->open();
        for (int i = 1; i <= 400; ++i) {
            t->insert();
            t->fieldByName("ID").setAsInteger(i * 2);
            t->fieldByName("NAME").setAsString("old");
            t->post();
        }
    }
    for (int killAfter : {1, 57, 250}) {
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(report[0]);
            auto t = table(false);
            t->open();
            // Alternate in-place edits and inserts that split blocks.
            int n = 0;
            for (t->first(); !t->eof(); t->next()) {
                t->edit();
                t->fieldByName("NAME").setAsString("new" + std::to_string(killAfter));
                t->post();
                t->insert();
                t->fieldByName("ID").setAsInteger(100000 * killAfter + ++n);
                t->fieldByName("NAME").setAsString("added");
                t->post();
                t->last();
                const int done = n;
                (void)!write(report[1], &done, sizeof done);
                // Walk on from the record just edited.
                t->first();
                t->moveBy(n - 1);
            }
            _exit(0);
        }
        close(report[1]);
        int done = 0, last = 0;
        while (last < killAfter && read(report[0], &done, sizeof done) == sizeof done) last = done;
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(report[0]);

        auto t = table(false);
        ASSERT_NO_THROW(t->open()) << "after a kill at post " << killAfter;
        int edited = 0, added = 0;
        for (t->first(); !t->eof(); t->next()) {
            const std::string name = t->fieldByName("NAME").asString();
            if (name == "new" + std::to_string(killAfter)) ++edited;
            const auto id = t->fieldByName("ID").asInteger();
            if (id > 100000 * killAfter && id < 100000 * (killAfter + 1)) ++added;
        }
        EXPECT_GE(edited, last) << "edits reported before the kill at " << killAfter;
        EXPECT_GE(added, last) << "inserts reported before the kill at " << killAfter;
        t->close();
    }
}

} // namespace
