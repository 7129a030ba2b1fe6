// `fieldsmith-batch run`: inputs from Control=value, answers from --yes/--no, exit
// statuses, and what reaches standard error.
#include "app/run/BatchRun.h"
#include "AppTestSupport.h"
#include "app/run/ConsoleHost.h"
#include "app/run/RunProtocol.h"
#include "app/run/Texts.h"
#include "engine/Session.h"

#include <gtest/gtest.h>
#include <sstream>

namespace fieldsmith::run {
namespace {

class BatchRun : public ::testing::Test {
protected:
    BatchRun() {
        // A stand-in for Change Field: checks like the real one, then walks three records
        // and asks the abort question at the second.
        operations.add("ExecuteFeldReplaceComplete", [this](RunContext& ctx) {
            seen = ctx.inputs.Seite2;
            if (ctx.inputs.Seite2.Change1Alias.empty())
                return ctx.host.showError(std::string(kAliasMustBeSpecified));
            apptest::FakeCursor cursor(3);
            cursor.onNext = [&ctx, &cursor] {
                if (cursor.nexts == 2) ctx.host.CancelRequested = 1;
            };
            WalkStyle style;
            runWalk(ctx.host, cursor, style, [] { return true; });
            if (auto path = ctx.host.saveFileDialog({"/tmp", "MOVE_ERROR.TXT", "TXT"}))
                savedTo = *path;
        });
        operations.add("executeDeleteRecs",
                       [](RunContext&) { throw std::runtime_error("Table is busy"); });
    }

    int run(std::vector<std::string> args) {
        err.str({});
        return runPageFromArgs(session, args, operations, err, false);
    }

    engine::Session session;
    OperationTable operations;
    std::ostringstream err;
    Seite2Inputs seen;
    std::string savedTo;
};

TEST_F(BatchRun, ArgumentErrorsAndPagesWithoutAnOperation) {
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{}, kBatchUsage},
        {{"Seite9"}, kBatchUsage},
        {{"Seite2", "NoSuchControl=1"}, kBatchUsage},
        {{"Seite2", "CaseBox=maybe"}, kBatchUsage},
        {{"Seite2", "--save-as"}, kBatchUsage},
        {{"Seite2", "stray"}, kBatchUsage},
        {{"Seite6", "PreisAlias1=A"}, kBatchNotBuilt},
        {{"AnsichtTabelle"}, kBatchUsage}, // the Table View has no inputs to run with
        {{"Seite2", "--yes", "--no"}, kBatchUsage},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args)
            line += a + " ";
        EXPECT_EQ(run(c.args), c.status) << line << "\n" << err.str();
    }
}

TEST_F(BatchRun, InputsReachTheOperation) {
    run({"Seite2", "Change1Alias=WORK", "Change1Table=NAMES", "vonEdit2=a=b", "CaseBox=1",
         "--yes"});
    EXPECT_EQ(seen.Change1Alias, "WORK");
    EXPECT_EQ(seen.Change1Table, "NAMES");
    EXPECT_EQ(seen.vonEdit2, "a=b") << "only the first '=' separates control and value";
    EXPECT_TRUE(seen.CaseBox);
}

TEST_F(BatchRun, CheckMessageGivesAFailureStatus) {
    EXPECT_EQ(run({"Seite2"}), kBatchFailed);
    EXPECT_NE(err.str().find("Error: ALIAS must be specified!"), std::string::npos) << err.str();
}

TEST_F(BatchRun, QuestionsAreAnsweredByTheCommandLine) {
    EXPECT_EQ(run({"Seite2", "Change1Alias=W", "--yes"}), kBatchDone);
    EXPECT_NE(err.str().find("Question: Abort process?"), std::string::npos);
    EXPECT_NE(err.str().find("Complete!\n2 Records of 3 processed"), std::string::npos)
        << err.str();

    EXPECT_EQ(run({"Seite2", "Change1Alias=W", "--no"}), kBatchDone);
    EXPECT_NE(err.str().find("Complete!\n3 Records of 3 processed"), std::string::npos)
        << err.str();

    EXPECT_EQ(run({"Seite2", "Change1Alias=W"}), kBatchUnanswered);
    EXPECT_EQ(err.str().find("Complete!"), std::string::npos) << err.str();
}

TEST_F(BatchRun, SaveDialogIsAnsweredBySaveAs) {
    run({"Seite2", "Change1Alias=W", "--no"});
    EXPECT_EQ(savedTo, "");
    EXPECT_NE(err.str().find("--save-as"), std::string::npos);
    run({"Seite2", "Change1Alias=W", "--no", "--save-as", "/tmp/keys.txt"});
    EXPECT_EQ(savedTo, "/tmp/keys.txt");
    run({"Seite2", "Change1Alias=W", "--no", "--save-as=/tmp/other.txt"});
    EXPECT_EQ(savedTo, "/tmp/other.txt");
}

TEST_F(BatchRun, ErrorGivesAFailureStatusWithItsMessage) {
    EXPECT_EQ(run({"DelPage", "AliasDel=W"}), kBatchFailed);
    EXPECT_NE(err.str().find("Error: Table is busy"), std::string::npos) << err.str();
}

TEST_F(BatchRun, ProgressIsOneLineAtTheEndWhenNotOnATerminal) {
    run({"Seite2", "Change1Alias=W", "--no"});
    EXPECT_NE(err.str().find("2 Records of 3 processed  |  3 Records changed!\n"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(err.str().find("0 Records of 3 processed"), std::string::npos)
        << "intermediate progress is not printed without a terminal";
}

} // namespace
} // namespace fieldsmith::run

namespace fieldsmith::run {
namespace {

TEST(ConsoleHost, ProgressRedrawsOneLineOnATerminal) {
    std::ostringstream err;
    ConsoleHost::Options options;
    options.interactive = true;
    ConsoleHost host(err, options);
    host.setStatusText(1, "processed: 1 of 3");
    host.setStatusText(1, "processed: 2 of 3");
    host.setStatusText(1, "processed: 3 of 3");
    host.showInformation("Complete!\r3 Records of 3 processed!");
    const std::string out = err.str();
    EXPECT_EQ(out.rfind("\rprocessed: 1 of 3", 0), 0u) << out;
    EXPECT_NE(out.find("\rprocessed: 3 of 3\nInformation: Complete!\n3 Records of 3 processed!\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("\n", 0), out.find("\nInformation")) << "one line until the message";
}

} // namespace
} // namespace fieldsmith::run

namespace fieldsmith::run {
namespace {

// A run that loses characters to a table's code page says so once, at its end, also when
// it ends with an error.
TEST(BatchRunCodePages, LostCharactersAreReportedOnceAfterTheRun) {
    apptest::TempDir dir;
    engine::Session session;
    session.addStandardAlias("DOS", dir.path());
    {
        engine::Session dosProgram; // a table made in code page 437
        dosProgram.setAnsiCodePage(437);
        dosProgram.addStandardAlias("DOS", dir.path());
        apptest::makeTable(dosProgram, "DOS", "T", {"NAME"}, {{"a"}, {"b"}});
    }
    OperationTable operations;
    operations.add("ExecuteFeldReplaceComplete", [](RunContext& ctx) {
        engine::Table t(ctx.session);
        t.setDatabaseName("DOS");
        t.setTableName("T");
        t.open();
        for (t.first(); !t.eof(); t.next()) {
            t.edit();
            t.fieldByName("NAME").setAsString("S\xF8ren"); // no o-slash in code page 437
            t.post();
        }
        if (ctx.inputs.Seite2.CaseBox) throw std::runtime_error("stopped");
    });
    for (const char* caseBox : {"CaseBox=0", "CaseBox=1"}) {
        std::ostringstream err;
        runPageFromArgs(session, {"Seite2", caseBox}, operations, err, false);
        const std::string text = err.str();
        const std::string report = conversionLossMessage(2);
        const auto at = text.find(report);
        EXPECT_NE(at, std::string::npos) << text;
        EXPECT_EQ(text.find(report, at + 1), std::string::npos) << "reported once: " << text;
    }
}

} // namespace
} // namespace fieldsmith::run
