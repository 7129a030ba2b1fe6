// The run protocol on a stand-in table: counters, panel texts, the cancel question, the
// error path, and the window's state on every way out of a walk.
#include "app/run/RunProtocol.h"
#include "AppTestSupport.h"
#include "app/run/TestHost.h"
#include "engine/FormatSettings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace fieldsmith::run {
namespace {

using apptest::FakeCursor;

// The two shapes of walk the operations have: the shared working table (wait cursor,
// n from 0, completion also after an error) and a fresh table object (n from 1, a record
// aborted at is not counted).
WalkStyle sharedTableStyle() {
    WalkStyle s;
    s.waitCursor = true;
    s.format = ProgressFormat::RecordsOfProcessed;
    s.firstShown = 0;
    s.completionAfterError = true;
    return s;
}

WalkStyle freshTableStyle() {
    WalkStyle s;
    s.format = ProgressFormat::ProcessedOf;
    s.firstShown = 1;
    s.completionEnding = "!";
    s.freshTableOrder = true;
    return s;
}

// Runs a walk that writes every record, and swallows an error so the host can be inspected.
WalkCounters walk(
    TestHost& host, FakeCursor& cursor, const WalkStyle& style,
    std::function<bool()> step = [] { return true; }) {
    try {
        return runWalk(host, cursor, style, step);
    } catch (const std::exception&) {
        return {};
    }
}

void expectIdle(const TestHost& host, const char* what) {
    EXPECT_TRUE(host.idle) << what;
    EXPECT_FALSE(host.waitCursor) << what;
    EXPECT_EQ(host.CancelRequested, 0) << what;
}

struct WalkCase {
    const char* name;
    WalkStyle style;
    int records;
    int cancelAt;              //!< breather at which Cancel is pressed; 0: never
    std::vector<bool> answers; //!< answers to the abort questions
    std::string completion;
    std::string panel1;
    std::string panel2;
    int questions;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const WalkCase& c, std::ostream* os) {
    *os << c.name;
}

class RunWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(RunWalk, CountsPanelsAndCompletion) {
    const WalkCase& c = GetParam();
    TestHost host;
    host.cancelAtRecord = c.cancelAt;
    host.answers.assign(c.answers.begin(), c.answers.end());
    FakeCursor cursor(c.records);
    walk(host, cursor, c.style);

    ASSERT_EQ(host.textsOf(MessageKind::Information).size(), 1u) << c.name;
    EXPECT_EQ(host.textsOf(MessageKind::Information)[0], c.completion) << c.name;
    EXPECT_EQ(host.panels[1], c.panel1) << c.name;
    EXPECT_EQ(host.panels[2], c.panel2) << c.name;
    EXPECT_EQ(host.count(MessageKind::Confirmation), c.questions) << c.name;
    EXPECT_EQ(cursor.opened, 1) << c.name;
    EXPECT_EQ(cursor.closed, 1) << c.name;
    expectIdle(host, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, RunWalk,
    ::testing::Values(WalkCase{"shared table, empty",
                               sharedTableStyle(),
                               0,
                               0,
                               {},
                               "Complete!\r0 Records of 0 processed",
                               "",
                               "",
                               0},
                      WalkCase{"fresh object, empty",
                               freshTableStyle(),
                               0,
                               0,
                               {},
                               "Complete!\r0 Records of 0 processed!",
                               "",
                               "",
                               0},
                      WalkCase{"shared table, full walk",
                               sharedTableStyle(),
                               3,
                               0,
                               {},
                               "Complete!\r3 Records of 3 processed",
                               "2 Records of 3 processed",
                               "3 Records changed!",
                               0},
                      WalkCase{"fresh object, full walk",
                               freshTableStyle(),
                               3,
                               0,
                               {},
                               "Complete!\r3 Records of 3 processed!",
                               "processed: 3 of 3",
                               "3 Records changed!",
                               0},
                      WalkCase{"shared table, abort at first record counts it",
                               sharedTableStyle(),
                               5,
                               1,
                               {true},
                               "Complete!\r1 Records of 5 processed",
                               "0 Records of 5 processed",
                               "1 Records changed!",
                               1},
                      WalkCase{"fresh object, abort at first record does not count it",
                               freshTableStyle(),
                               5,
                               1,
                               {true},
                               "Complete!\r0 Records of 5 processed!",
                               "processed: 1 of 5",
                               "1 Records changed!",
                               1},
                      WalkCase{"No goes on with the next record",
                               sharedTableStyle(),
                               4,
                               2,
                               {false},
                               "Complete!\r4 Records of 4 processed",
                               "3 Records of 4 processed",
                               "4 Records changed!",
                               1}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(RunWalkCancel, AskedAgainAfterNoWhenCancelIsPressedLater) {
    TestHost host;
    host.answers = {false, true};
    host.onPendingMessages = [](TestHost& h, int record) {
        if (record == 2 || record == 4) h.CancelRequested = 1;
    };
    FakeCursor cursor(10);
    const auto c = walk(host, cursor, sharedTableStyle());
    EXPECT_EQ(host.count(MessageKind::Confirmation), 2);
    EXPECT_EQ(c.processed, 4);
    EXPECT_EQ(host.textsOf(MessageKind::Confirmation)[0], "Abort process?");
}

TEST(RunWalkCancel, TwoPressesWithinOneRecordGiveOneQuestion) {
    TestHost host;
    host.defaultAnswer = false;
    host.onPendingMessages = [](TestHost& h, int record) {
        if (record == 1) {
            h.CancelRequested = 1; // Cancel pressed twice before the walk looks again
            h.CancelRequested = 1;
        }
    };
    FakeCursor cursor(3);
    walk(host, cursor, sharedTableStyle());
    EXPECT_EQ(host.count(MessageKind::Confirmation), 1);
    EXPECT_EQ(host.textsOf(MessageKind::Information)[0], "Complete!\r3 Records of 3 processed");
}

TEST(RunWalkCancel, AbortedRunLeavesNoRequestForTheNextRun) {
    TestHost host;
    host.cancelAtRecord = 1;
    FakeCursor first(3);
    walk(host, first, sharedTableStyle());
    ASSERT_EQ(host.count(MessageKind::Confirmation), 1);

    host.cancelAtRecord = 0;
    FakeCursor second(3);
    walk(host, second, freshTableStyle());
    EXPECT_EQ(host.count(MessageKind::Confirmation), 1) << "the second run asked again";
    EXPECT_EQ(host.textsOf(MessageKind::Information).back(),
              "Complete!\r3 Records of 3 processed!");
}

// A host that paints at intervals wants few progress texts; the panels still end as they
// end for a host that takes every text (also when an error ends the walk), and show where
// the walk stands when Cancel asks.
TEST(RunWalkCancel, FewProgressTextsEndAsEveryTextWould) {
    struct Case {
        const char* what;
        WalkStyle style;
        int progressEvery;
        int cancelAt;
        int failAt = 0; //!< the step of this record throws
    } cases[] = {
        {"shared, never", sharedTableStyle(), 0, 0},
        {"fresh, never", freshTableStyle(), 0, 0},
        {"shared, every 7th", sharedTableStyle(), 7, 0},
        {"shared, never, cancelled", sharedTableStyle(), 0, 13},
        {"fresh, every 7th, cancelled", freshTableStyle(), 7, 13},
        {"shared, never, failed", sharedTableStyle(), 0, 0, 20},
        {"fresh, every 7th, failed", freshTableStyle(), 7, 0, 20},
    };
    struct Host : TestHost {
        std::string atQuestion;
        bool confirm(const std::string& text) override {
            atQuestion = panels[1] + " / " + panels[2];
            return TestHost::confirm(text);
        }
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Host every, few;
        few.progressEvery = c.progressEvery;
        for (Host* h : {&every, &few}) {
            h->cancelAtRecord = c.cancelAt;
            FakeCursor cursor(50);
            int n = 0;
            walk(*h, cursor, c.style, [&] {
                if (++n == c.failAt) throw std::runtime_error("Disk full");
                return n % 3 == 0;
            });
        }
        EXPECT_EQ(few.panels, every.panels);
        EXPECT_EQ(few.atQuestion, every.atQuestion);
        if (c.cancelAt) {
            EXPECT_FALSE(every.atQuestion.empty());
        }
    }
}

TEST(RunWalkCancel, YesReturnsToIdleBeforeTheCompletionMessage) {
    TestHost host;
    host.cancelAtRecord = 2;
    FakeCursor cursor(5);
    walk(host, cursor, sharedTableStyle());
    const auto& e = host.events;
    const auto question = std::find(e.begin(), e.end(), "message:Abort process?");
    ASSERT_NE(question, e.end());
    EXPECT_EQ(*(question + 1), "UpdateAnsicht(true)");
}

TEST(RunWalkState, RunningDuringTheWalkWithTheWaitCursorWhereTheStyleHasIt) {
    for (const WalkStyle& style : {sharedTableStyle(), freshTableStyle()}) {
        TestHost host;
        bool sawRunning = false, sawWait = false;
        host.onPendingMessages = [&](TestHost& h, int) {
            sawRunning = !h.idle;
            sawWait = h.waitCursor;
        };
        FakeCursor cursor(2);
        walk(host, cursor, style);
        EXPECT_TRUE(sawRunning);
        EXPECT_EQ(sawWait, style.waitCursor);
        if (style.waitCursor) {
            // The wait cursor comes first, and the arrow is back before the message.
            EXPECT_EQ(host.events.front(), "WarteMaus");
            const auto arrow = std::find(host.events.begin(), host.events.end(), "PfeilMaus");
            const auto done =
                std::find_if(host.events.begin(), host.events.end(), [](const std::string& s) {
                    return s.rfind("message:Complete!", 0) == 0;
                });
            EXPECT_LT(arrow, done);
        }
        expectIdle(host, "after a walk");
    }
}

TEST(RunWalkErrors, OpenFailureShowsTheCountsOnlyForTheSharedTableStyle) {
    struct Case {
        WalkStyle style;
        int completions;
    };
    for (const Case& c : {Case{sharedTableStyle(), 1}, Case{freshTableStyle(), 0}}) {
        TestHost host;
        FakeCursor cursor(3);
        cursor.failOpen = true;
        EXPECT_THROW(runWalk(host, cursor, c.style, [] { return true; }), std::runtime_error);
        ASSERT_EQ(host.count(MessageKind::Information), c.completions);
        if (c.completions) {
            EXPECT_EQ(host.textsOf(MessageKind::Information)[0],
                      "Complete!\r0 Records of 0 processed");
        }
        EXPECT_EQ(cursor.closed, 1);
        expectIdle(host, "after a failed open");
    }
}

TEST(RunWalkErrors, ErrorDuringTheWalkKeepsTheCountsReached) {
    TestHost host;
    FakeCursor cursor(5);
    int record = 0;
    auto step = [&] {
        if (++record == 3) throw std::runtime_error("Field PRICE: '1,2,3' is not a valid number");
        return true;
    };
    try {
        runWalk(host, cursor, sharedTableStyle(), step);
        FAIL() << "the error did not reach the caller";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Field PRICE: '1,2,3' is not a valid number");
    }
    EXPECT_EQ(host.textsOf(MessageKind::Information),
              std::vector<std::string>{"Complete!\r2 Records of 5 processed"});
    EXPECT_EQ(host.panels[2], "2 Records changed!");
    expectIdle(host, "after an error in the walk");
}

// A run that could not write its changes through (indexes, flush) did not complete: the
// error comes before any completion message of a fresh-table run, and instead of "Complete!"
// right after the walk of a shared-table run.
TEST(RunWalkErrors, AFailedFlushIsReportedBeforeCompletion) {
    for (const WalkStyle& style : {sharedTableStyle(), freshTableStyle()}) {
        TestHost host;
        FakeCursor cursor(3);
        cursor.failFinish = true;
        EXPECT_THROW(runWalk(host, cursor, style, [] { return true; }), std::runtime_error);
        EXPECT_GE(cursor.finished, 1);
        const auto completions = host.textsOf(MessageKind::Information);
        if (style.completionAfterError) {
            EXPECT_EQ(completions, std::vector<std::string>{"Complete!\r3 Records of 3 processed"})
                << "shown once, on the error path";
        } else {
            EXPECT_TRUE(completions.empty()) << "a run that did not complete says so only by its error";
        }
        EXPECT_EQ(cursor.closed, 1);
        expectIdle(host, "after a failed flush");
    }
}

TEST(RunWalkErrors, UnansweredQuestionEndsTheRunLikeAnError) {
    // A host that cannot answer (batch mode without --yes/--no) throws from the question.
    struct StopHost : TestHost {
        bool confirm(const std::string& text) override {
            TestHost::confirm(text);
            throw std::runtime_error("stopped");
        }
    } host;
    host.cancelAtRecord = 1;
    FakeCursor cursor(3);
    EXPECT_THROW(runWalk(host, cursor, freshTableStyle(), [] { return false; }),
                 std::runtime_error);
    expectIdle(host, "after a stop at a question");
    EXPECT_EQ(cursor.closed, 1);
}

TEST(RunWalkSteps, TakesTheRecordCountOnce) {
    TestHost host;
    FakeCursor cursor(4);
    cursor.countAfterFirstCall = 100; // the table grows during the walk
    int steps = 0;
    runWalk(host, cursor, freshTableStyle(), [&] { return ++steps % 2 == 0; });
    EXPECT_EQ(steps, 4);
    EXPECT_EQ(cursor.nexts, 4);
    EXPECT_EQ(host.panels[2], "2 Records changed!");
}

TEST(RunWalkSteps, DurationPanelShowsTheElapsedTime) {
    TestHost host;
    WalkStyle style = sharedTableStyle();
    style.useDurationPanel = true;
    engine::FormatSettings formats;
    FakeCursor cursor(2);
    runWalk(
        host, cursor, style, [] { return false; }, &formats);
    EXPECT_EQ(host.panels[0].rfind("Execution Duration: ", 0), 0u) << host.panels[0];
    EXPECT_EQ(host.panels[0].size(), std::string("Execution Duration: 00:00:00").size());
}

// The clock is read only every few records while they go fast; a walk that then slows
// down must still show the seconds passing before it ends.
TEST(RunWalkSteps, DurationPanelFollowsAWalkThatSlowsDown) {
    const int fast = 5000, slow = 60;
    int n = 0;
    struct PanelLog : TestHost {
        const int* steps = nullptr;
        int stepsAtFirstSecond = -1;
        void setStatusText(int panel, const std::string& text) override {
            if (panel == 0 && text == "Execution Duration: 00:00:01" && stepsAtFirstSecond < 0)
                stepsAtFirstSecond = *steps;
            TestHost::setStatusText(panel, text);
        }
    } host;
    host.steps = &n;
    WalkStyle style = freshTableStyle();
    style.useDurationPanel = true;
    engine::FormatSettings formats;
    FakeCursor cursor(fast + slow);
    runWalk(
        host, cursor, style,
        [&] {
            if (++n > fast) std::this_thread::sleep_for(std::chrono::milliseconds(25));
            return false;
        },
        &formats);
    EXPECT_GT(host.stepsAtFirstSecond, fast) << "a second passed only during the slow records";
    EXPECT_LT(host.stepsAtFirstSecond, fast + slow) << "shown while the walk went on, not at its end";
}

TEST(RunningState, ReturnsToIdleWhenLeftByAnException) {
    TestHost host;
    host.CancelRequested = 1;
    try {
        RunningState running(host, true);
        EXPECT_FALSE(host.idle);
        EXPECT_TRUE(host.waitCursor);
        throw std::runtime_error("boom");
    } catch (const std::runtime_error&) {
    }
    expectIdle(host, "after the scope");
}

} // namespace
} // namespace fieldsmith::run
