// The field operations over real Paradox tables made by the engine, driven through the
// test host: main paths, check messages, cancel, errors in the middle of a walk.
#include "ops/FieldOperations.h"
#include "ops/OpsCommon.h"

#include "support/TempDir.h"
#include "app/run/Operations.h"
#include "app/run/TestHost.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/wait.h>
#include <unistd.h>
#include <iterator>

using namespace fieldsmith;
using engine::FieldType;
using fieldsmith::test::TempDir;
using Rows = std::vector<std::vector<std::string>>;

namespace {

class FieldOps : public ::testing::Test {
protected:
    FieldOps() { session.addStandardAlias("WORK", dir.path()); }

    // A table with an integer key ID and the given alpha fields, one row per entry.
    void make(const std::string& name, const std::vector<std::string>& fields, const Rows& rows,
              bool keyed = true) {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName(name);
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, keyed}};
        for (const auto& f : fields) t.fieldDefs().push_back({f, FieldType::ftString, 20});
        if (keyed) t.indexDefs() = {{"", "ID", engine::ixPrimary}};
        t.createTable();
        t.open();
        int id = 1;
        for (const auto& row : rows) {
            t.insert();
            t.fieldByName("ID").setAsInteger(id++);
            for (std::size_t i = 0; i < row.size(); ++i) t.fieldByName(fields[i]).setAsString(row[i]);
            t.post();
        }
    }

    std::vector<std::string> column(const std::string& table, const std::string& field) {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName(table);
        t.open();
        std::vector<std::string> out;
        for (t.first(); !t.eof() && t.recordCount() > 0; t.next()) out.push_back(t.fieldByName(field).asString());
        return out;
    }

    void run(void (*operation)(run::RunContext&)) {
        run::RunContext ctx{host, session, inputs, shared};
        operation(ctx);
    }

    std::string info() const {
        const auto texts = host.textsOf(run::MessageKind::Information);
        return texts.empty() ? std::string("<none>") : texts.back();
    }
    std::vector<std::string> errors() const { return host.textsOf(run::MessageKind::Error); }
    bool ranAtAll() const {
        return std::find(host.events.begin(), host.events.end(), "UpdateAnsicht(false)") != host.events.end();
    }

    TempDir dir;
    engine::Session session;
    run::TestHost host;
    run::PageInputs inputs;
    run::SharedState shared{session};
};

// ---------------------------------------------------------------- Change Field

class ChangeField : public FieldOps {
protected:
    ChangeField() {
        make("T", {"NAME", "CITY"},
             {{"", "Berlin"}, {"abc", "Berlin"}, {"ABC", "berlin"}, {"ABC", "Oberhausen"}, {"\xE4" "bc", "Bonn"}});
        auto& in = inputs.Seite2;
        in.Change1Alias = "WORK";
        in.Change1Table = "T";
        in.Change1Field = "NAME";
    }
};

TEST_F(ChangeField, WholeValuesOptionallyCaseInsensitiveAndConditioned) {
    struct Case {
        std::string von;
        bool caseBox;
        std::string condition;
        std::vector<std::string> expected;
        int changed;
    } cases[] = {
        {"", false, "", {"X", "abc", "ABC", "ABC", "\xE4" "bc"}, 1},
        {"abc", false, "", {"", "X", "ABC", "ABC", "\xE4" "bc"}, 1},
        {"abc", true, "", {"", "X", "X", "X", "\xE4" "bc"}, 3},
        {"\xC4" "BC", true, "", {"", "abc", "ABC", "ABC", "\xE4" "bc"}, 0}, // umlauts are not folded
        {"ABC", true, "Ber", {"", "X", "ABC", "ABC", "\xE4" "bc"}, 1},
    };
    for (const auto& c : cases) {
        make("T", {"NAME", "CITY"},
             {{"", "Berlin"}, {"abc", "Berlin"}, {"ABC", "berlin"}, {"ABC", "Oberhausen"}, {"\xE4" "bc", "Bonn"}});
        auto& in = inputs.Seite2;
        in.vonEdit2 = c.von;
        in.zuEdit2 = "X";
        in.CaseBox = c.caseBox;
        in.ChangeSubBedBox = !c.condition.empty();
        in.BedingungFeld = "CITY";
        in.Bedingung = c.condition;
        host = {};
        shared.TempTable.close();
        run(ops::ExecuteFeldReplaceComplete);
        EXPECT_TRUE(shared.TempTable.active()) << "the table stays open after the run";
        shared.TempTable.close();
        EXPECT_EQ(column("T", "NAME"), c.expected) << c.von;
        EXPECT_EQ(host.panels[2], std::to_string(c.changed) + " Records changed!") << c.von;
        EXPECT_EQ(host.panels[1], "4 Records of 5 processed");
        EXPECT_EQ(info(), "Complete!\r5 Records of 5 processed");
        EXPECT_TRUE(host.idle);
        EXPECT_EQ(host.events.front(), "WarteMaus");
    }
}

TEST_F(ChangeField, ChecksAndTheConditionFocus) {
    inputs.Seite2.ChangeSubBedBox = true;
    inputs.Seite2.Bedingung = "x";
    run(ops::ExecuteFeldReplaceComplete);
    EXPECT_EQ(errors(), (std::vector<std::string>{"Option Field must be specified!"}));
    EXPECT_EQ(host.events[1], "showPage(Seite2)");
    EXPECT_EQ(host.events[2], "focus(BedingungFeld)");
    EXPECT_FALSE(ranAtAll());
    for (auto [field, message] : {std::pair{&run::Seite2Inputs::Change1Field, "Target Field must be specified!"},
                                  {&run::Seite2Inputs::Change1Table, "Table must be specified!"},
                                  {&run::Seite2Inputs::Change1Alias, "ALIAS must be specified!"}}) {
        inputs.Seite2.*field = "";
        host = {};
        run(ops::ExecuteFeldReplaceComplete);
        EXPECT_EQ(errors(), (std::vector<std::string>{message}));
    }
}

TEST_F(ChangeField, TheConditionFieldMustStartWithTheText) {
    make("T", {"NAME", "CITY"}, {{"abc", "Berlin"}, {"abc", "XBerlin"}, {"abc", "berlin"}});
    auto& in = inputs.Seite2;
    in.vonEdit2 = "abc";
    in.zuEdit2 = "X";
    in.ChangeSubBedBox = true;
    in.BedingungFeld = "CITY";
    in.Bedingung = "Berlin";
    run(ops::ExecuteFeldReplaceComplete);
    shared.TempTable.close();
    EXPECT_EQ(column("T", "NAME"), (std::vector<std::string>{"X", "abc", "abc"}))
        << "XBerlin contains Berlin but does not start with it";
}

// A run whose indexes could not be rebuilt at its end (the table's directory takes no new
// files) is refused before it writes anything. Run as another user where the test is the
// superuser, whom permissions do not stop.
TEST_F(ChangeField, ADirectoryThatTakesNoNewFilesIsRefusedBeforeTheWalk) {
    inputs.Seite2.vonEdit2 = "abc";
    inputs.Seite2.zuEdit2 = "X";
    const auto before = column("T", "NAME");
    const bool root = geteuid() == 0;
    if (root) {
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
            (void)!chown(e.path().c_str(), 65534, 65534);
        (void)!chown(dir.path().c_str(), 65534, 65534);
    }
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const pid_t pid = fork();
    if (pid == 0) {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        try {
            run(ops::ExecuteFeldReplaceComplete);
        } catch (const engine::EngineError& e) {
            const bool named = std::string(e.what()).find("Cannot write files in directory") != std::string::npos;
            _exit(named && host.textsOf(run::MessageKind::Information).size() <= 1 ? 0 : 4);
        }
        _exit(3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot run as another user";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the run was not refused with the directory named (status " << status << ")";
    EXPECT_EQ(column("T", "NAME"), before) << "nothing was written";
}

// Another program writing the table: the run asks to try again; Cancel ends it through its
// error path, OK after the other has finished runs it.
TEST_F(ChangeField, ASecondWriterGetsTheRetryQuestion) {
    inputs.Seite2.vonEdit2 = "abc";
    inputs.Seite2.zuEdit2 = "X";
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        engine::Session other;
        other.addStandardAlias("WORK", dir.path());
        engine::Table t(other);
        t.setDatabaseName("WORK");
        t.setTableName("T");
        t.open();
        t.last();
        t.edit();
        t.fieldByName("CITY").setAsString("Kiel");
        t.post(); // holds the writer role until it closes
        char c = 'r';
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        t.close();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    host.answers = {false};
    EXPECT_THROW(run(ops::ExecuteFeldReplaceComplete), engine::EngineError);
    EXPECT_EQ(host.textsOf(run::MessageKind::Retry),
              (std::vector<std::string>{"Table T is in use by someone else - OK to try again?"}));
    EXPECT_TRUE(host.idle);
    (void)!write(release[1], "g", 1);
    int status = 0;
    waitpid(writer, &status, 0);
    host = {};
    run(ops::ExecuteFeldReplaceComplete);
    shared.TempTable.close();
    EXPECT_EQ(column("T", "NAME"), (std::vector<std::string>{"", "X", "ABC", "ABC", "\xE4" "bc"}));
    EXPECT_EQ(column("T", "CITY").back(), "Kiel") << "the other program's change stays";
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST_F(ChangeField, CancelYesCountsTheRecordAndNoGoesOn) {
    inputs.Seite2.vonEdit2 = "ABC";
    inputs.Seite2.zuEdit2 = "Z";
    host.cancelAtRecord = 1;
    host.answers = {true};
    run(ops::ExecuteFeldReplaceComplete);
    EXPECT_EQ(info(), "Complete!\r1 Records of 5 processed");
    EXPECT_EQ(host.textsOf(run::MessageKind::Confirmation), (std::vector<std::string>{"Abort process?"}));
    host = {};
    host.cancelAtRecord = 2;
    host.answers = {false};
    run(ops::ExecuteFeldReplaceComplete);
    EXPECT_EQ(info(), "Complete!\r5 Records of 5 processed");
    EXPECT_EQ(host.CancelRequested, 0);
}

TEST_F(ChangeField, MissingTableShowsTheCompletionThenTheError) {
    inputs.Seite2.Change1Table = "NOSUCH";
    EXPECT_THROW(run(ops::ExecuteFeldReplaceComplete), engine::EngineError);
    EXPECT_EQ(info(), "Complete!\r0 Records of 0 processed");
    EXPECT_TRUE(host.idle);
    EXPECT_FALSE(host.waitCursor);
}

TEST_F(ChangeField, ErrorInTheMiddleKeepsEarlierPosts) {
    // The new text is too long for nothing, but a key field refuses text: ID is an integer.
    inputs.Seite2.Change1Field = "ID";
    inputs.Seite2.vonEdit2 = "";
    make("T", {"NAME"}, {{"a"}, {"b"}});
    inputs.Seite2.Change1Field = "NAME";
    inputs.Seite2.vonEdit2 = "b";
    inputs.Seite2.zuEdit2 = "q";
    EXPECT_NO_THROW(run(ops::ExecuteFeldReplaceComplete));
    // Now a value that the integer field cannot take, at the second record.
    inputs.Seite2.Change1Field = "ID";
    inputs.Seite2.vonEdit2 = "2";
    inputs.Seite2.zuEdit2 = "two";
    host = {};
    EXPECT_THROW(run(ops::ExecuteFeldReplaceComplete), engine::EngineError);
    EXPECT_EQ(info(), "Complete!\r1 Records of 2 processed");
    shared.TempTable.close();
    EXPECT_EQ(column("T", "NAME"), (std::vector<std::string>{"a", "q"}));
}

// ------------------------------------------------------- Change Field partially

class ChangePart : public FieldOps {
protected:
    void start(const Rows& rows) {
        make("T", {"V"}, rows);
        auto& in = inputs.Seite3;
        in.Change2Alias = "WORK";
        in.Change2Table = "T";
        in.Change2Field = "V";
    }
    void mode(bool run::Seite3Inputs::*button) {
        auto& in = inputs.Seite3;
        for (auto b : {&run::Seite3Inputs::StringChange, &run::Seite3Inputs::LeerFeld, &run::Seite3Inputs::RemoveBlanks,
                       &run::Seite3Inputs::OEMBtn, &run::Seite3Inputs::UpperCaseBtn, &run::Seite3Inputs::allUpperCaseBtn,
                       &run::Seite3Inputs::allLowerCaseBtn, &run::Seite3Inputs::AddSiteIDBtn,
                       &run::Seite3Inputs::removeCRLFBtn})
            in.*b = false;
        in.*button = true;
    }
};

TEST_F(ChangePart, ReplacesOnlyTheFirstOccurrenceAndHonoursTheLength) {
    start({{"banana"}, {"AB-1234"}, {"AB-123"}, {""}});
    inputs.Seite3.vonEdit = "a";
    inputs.Seite3.zuEdit = "b";
    run(ops::SuchenErsetzenSubStrings);
    EXPECT_EQ(column("T", "V"), (std::vector<std::string>{"bbnana", "AB-1234", "AB-123", ""}));
    EXPECT_EQ(host.panels[2], "1 Records changed!");
    EXPECT_EQ(host.panels[0].rfind("Execution Duration: ", 0), 0u) << host.panels[0];
    inputs.Seite3.vonEdit = "-";
    inputs.Seite3.zuEdit = ".";
    inputs.Seite3.SizeBox = true;
    inputs.Seite3.SizeEdit = "7";
    host = {};
    run(ops::SuchenErsetzenSubStrings);
    EXPECT_EQ(column("T", "V"), (std::vector<std::string>{"bbnana", "AB.1234", "AB-123", ""}));
}

TEST_F(ChangePart, EmptySearchTextAfterYesFillsEmptyFieldsOnly) {
    start({{"a"}, {""}, {""}});
    inputs.Seite3.vonEdit = "";
    inputs.Seite3.zuEdit = "N";
    host.answers = {true};
    run(ops::SuchenErsetzenSubStrings);
    EXPECT_EQ(host.textsOf(run::MessageKind::InfoQuestion),
              (std::vector<std::string>{"String to be changed is empty!\rprocess empty Fields only?"}));
    EXPECT_EQ(column("T", "V"), (std::vector<std::string>{"a", "N", "N"}));
    // With the length condition no record qualifies (the length is at least 1).
    start({{"a"}, {""}});
    inputs.Seite3.SizeBox = true;
    inputs.Seite3.SizeEdit = "1";
    host = {};
    host.answers = {true};
    run(ops::SuchenErsetzenSubStrings);
    EXPECT_EQ(column("T", "V"), (std::vector<std::string>{"a", ""}));
    // No ends the run with the focus on the search text.
    host = {};
    host.answers = {false};
    run(ops::SuchenErsetzenSubStrings);
    EXPECT_EQ(host.events.back(), "focus(vonEdit)");
    EXPECT_FALSE(ranAtAll());
}

TEST_F(ChangePart, ModesWriteEveryRecordOrOnlyWhereTheRuleApplies) {
    struct Case {
        bool run::Seite3Inputs::*mode;
        std::vector<std::string> expected;
        int changed;
    } cases[] = {
        {&run::Seite3Inputs::LeerFeld, {"", "", ""}, 3},
        {&run::Seite3Inputs::RemoveBlanks, {"x y", "AB", "\x84"}, 3},
        {&run::Seite3Inputs::OEMBtn, {" x y ", "AB", "\xE4"}, 3},
        {&run::Seite3Inputs::UpperCaseBtn, {" x y ", "Ab", "\x84"}, 3},
        {&run::Seite3Inputs::allUpperCaseBtn, {" X Y ", "AB", "\x84"}, 3},
        {&run::Seite3Inputs::allLowerCaseBtn, {" x y ", "ab", "\x84"}, 3},
        {&run::Seite3Inputs::AddSiteIDBtn, {"P x y ", "PAB", "P\x84"}, 3},
        {&run::Seite3Inputs::removeCRLFBtn, {" x y ", "AB", "\x84"}, 0},
    };
    for (const auto& c : cases) {
        start({{" x y "}, {"AB"}, {"\x84"}});
        mode(c.mode);
        inputs.Seite3.zuEdit = "P";
        host = {};
        run(ops::SuchenErsetzenSubStrings);
        EXPECT_EQ(column("T", "V"), c.expected);
        EXPECT_EQ(host.panels[2], std::to_string(c.changed) + " Records changed!");
    }
}

// A walk in the order of an index whose field the run rewrites meets every record exactly
// once: moved records are neither met again nor skipped, and the counts are true.
TEST_F(ChangePart, AWalkInTheOrderOfTheFieldItRewritesMeetsEachRecordOnce) {
    struct Case {
        const char* what;
        bool secondary; //!< "switch Index to" V; else V is the table's primary key
    } cases[] = {{"switch Index to the rewritten field", true}, {"the rewritten field is the key", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("W");
        t.fieldDefs() = {{"V", FieldType::ftString, 20, !c.secondary}, {"N", FieldType::ftInteger, 0, false}};
        if (!c.secondary) t.indexDefs() = {{"", "V", engine::ixPrimary}};
        t.createTable();
        t.open();
        for (int i = 0; i < 12; ++i) {
            t.insert();
            t.fieldByName("V").setAsString("x" + std::string(1, static_cast<char>('a' + i)));
            t.fieldByName("N").setAsInteger(i);
            t.post();
        }
        t.close();
        if (c.secondary) t.addIndex("ByV", "V", 0);
        auto& in = inputs.Seite3;
        in = {};
        in.Change2Alias = "WORK";
        in.Change2Table = "W";
        in.Change2Field = "V";
        in.vonEdit = "x";
        in.zuEdit = "zx"; // every value moves to the end of the order
        in.Index3Check = c.secondary;
        in.Index3Box = c.secondary ? "V" : "";
        host = {};
        run(ops::SuchenErsetzenSubStrings);
        auto values = column("W", "V");
        std::sort(values.begin(), values.end());
        std::vector<std::string> expected; // "xa" .. "xl" each changed once
        for (int i = 0; i < 12; ++i) expected.push_back("zx" + std::string(1, static_cast<char>('a' + i)));
        EXPECT_EQ(values, expected);
        EXPECT_EQ(host.panels[2], "12 Records changed!");
        EXPECT_EQ(info(), "Complete!\r12 Records of 12 processed");
    }
}

TEST_F(ChangePart, ChecksWithTheirFocus) {
    start({{"a"}});
    struct Case {
        std::function<void(run::Seite3Inputs&)> change;
        std::string message, focus;
    } cases[] = {
        {[](auto& in) { in.Change2Alias.clear(); }, "ALIAS must be specified!", "Change2Alias"},
        {[](auto& in) { in.Change2Table.clear(); }, "Table must be specified!", "Change2Table"},
        {[](auto& in) { in.Change2Field.clear(); }, "Target Field must be specified!", "Change2Field"},
        {[](auto& in) { in.vonEdit = "a"; in.zuEdit.clear(); }, "New String must be specified!", "zuEdit"},
        {[](auto& in) { in.vonEdit = "a"; in.zuEdit = "b"; in.SizeBox = true; in.SizeEdit = "x"; },
         "Value must be a number!", "SizeEdit"},
        {[](auto& in) { in.vonEdit = "a"; in.zuEdit = "b"; in.SizeBox = true; in.SizeEdit = "0"; },
         "Value must be > 0 !", "SizeEdit"},
        {[](auto& in) { in.StringChange = false; in.AddSiteIDBtn = true; in.zuEdit.clear(); },
         "New String must be specified!", "zuEdit"},
    };
    for (const auto& c : cases) {
        auto saved = inputs.Seite3;
        c.change(inputs.Seite3);
        host = {};
        run(ops::SuchenErsetzenSubStrings);
        EXPECT_EQ(errors(), (std::vector<std::string>{c.message}));
        EXPECT_EQ(host.events.back(), "focus(" + c.focus + ")") << c.message;
        EXPECT_FALSE(ranAtAll()) << c.message;
        inputs.Seite3 = saved;
    }
}

TEST_F(ChangePart, ABadPositionCountFailsAtTheFirstRecordAfterTheCompletion) {
    start({{"\r\na"}, {"b"}});
    mode(&run::Seite3Inputs::removeCRLFBtn);
    inputs.Seite3.CRLFStellenEdit = "zwei";
    EXPECT_THROW(run(ops::SuchenErsetzenSubStrings), std::exception);
    EXPECT_EQ(info(), "Complete!\r0 Records of 2 processed");
    EXPECT_TRUE(host.idle);
    EXPECT_FALSE(shared.TempTable.controlsDisabled()) << "control updating resumes";
}

// ------------------------------------------------------------------ Merge Fields

class Merge : public FieldOps {
protected:
    void start(const Rows& rows) {
        make("T", {"F1", "F2", "F3", "TGT"}, rows);
        auto& in = inputs.Seite4;
        in = {};
        in.AliasMerge = "WORK";
        in.MergeTable = "T";
        in.MergeFeld1 = "F1";
        in.MergeTargetFeld = "TGT";
    }
};

TEST_F(Merge, JoinsFieldsWithTheirSeparators) {
    start({{"Miller", "John", "x"}, {"A", "", "C"}});
    inputs.Seite4.MergeFeld2 = "F2";
    inputs.Seite4.Trenn1Edit = ", ";
    run(ops::ExecuteMergeFelder);
    EXPECT_EQ(column("T", "TGT"), (std::vector<std::string>{"Miller, John", "A, "}));
    EXPECT_EQ(info(), "Complete!\r2 Records of 2 processed!");
    EXPECT_EQ(host.panels[1], "1 Records of 2 processed");
    // No second field: its separator is left out even before a third field.
    inputs.Seite4.MergeFeld2 = "";
    inputs.Seite4.MergeFeld3 = "F3";
    inputs.Seite4.Trenn0Edit = "<";
    inputs.Seite4.Trenn2Edit = "-";
    run(ops::ExecuteMergeFelder);
    EXPECT_EQ(column("T", "TGT"), (std::vector<std::string>{"<Miller-x", "<A-C"}));
}

TEST_F(Merge, LengthConditionAndDeletingTheSource) {
    start({{"X"}, {"XY"}});
    inputs.Seite4.FeldLaengeCheck = true;
    inputs.Seite4.NumCharsEdit = "1";
    inputs.Seite4.DelSourceCheck = true;
    run(ops::ExecuteMergeFelder);
    EXPECT_EQ(column("T", "TGT"), (std::vector<std::string>{"", "XY"}));
    EXPECT_EQ(column("T", "F1"), (std::vector<std::string>{"X", ""}));
    EXPECT_EQ(host.panels[2], "1 Records changed!") << "the second post is not counted";
    // The target being the first field: it takes the merged value and is then emptied.
    start({{"AB"}});
    inputs.Seite4.MergeTargetFeld = "F1";
    inputs.Seite4.FeldLaengeCheck = true;
    inputs.Seite4.NumCharsEdit = "1";
    inputs.Seite4.DelSourceCheck = true;
    run(ops::ExecuteMergeFelder);
    EXPECT_EQ(column("T", "F1"), (std::vector<std::string>{""}));
}

TEST_F(Merge, AbortedRecordIsNotCountedAndErrorsShowNoCompletion) {
    start({{"a"}, {"b"}, {"c"}});
    host.cancelAtRecord = 1;
    host.answers = {true};
    run(ops::ExecuteMergeFelder);
    EXPECT_EQ(info(), "Complete!\r0 Records of 3 processed!");
    EXPECT_EQ(host.textsOf(run::MessageKind::Confirmation), (std::vector<std::string>{"Abort Process?"}));
    EXPECT_EQ(column("T", "TGT")[0], "a") << "the record was written before the question";
    host = {};
    inputs.Seite4.FeldLaengeCheck = true;
    inputs.Seite4.NumCharsEdit = "one";
    EXPECT_THROW(run(ops::ExecuteMergeFelder), std::exception);
    EXPECT_EQ(host.count(run::MessageKind::Information), 0);
    EXPECT_TRUE(host.idle);
    start({});
    host = {};
    run(ops::ExecuteMergeFelder);
    EXPECT_EQ(info(), "Complete!\r0 Records of 0 processed!");
    EXPECT_TRUE(host.idle);
}

TEST_F(Merge, Checks) {
    start({});
    const std::pair<std::string run::Seite4Inputs::*, const char*> cases[] = {
        {&run::Seite4Inputs::MergeTargetFeld, "Merge-Target-field must be specified!"},
        {&run::Seite4Inputs::MergeFeld1, "Field1 must be specified!"},
        {&run::Seite4Inputs::MergeTable, "Table must be specified!"},
        {&run::Seite4Inputs::AliasMerge, "MERGE-ALIAS must be specified!"},
    };
    for (const auto& [member, message] : cases) {
        inputs.Seite4.*member = "";
        host = {};
        run(ops::ExecuteMergeFelder);
        EXPECT_EQ(errors(), (std::vector<std::string>{message}));
    }
}

// ------------------------------------------------------------------ New Value IF

TEST_F(FieldOps, NewValueIfSetsWhereTheTestFieldContainsTheString) {
    make("T", {"TEST", "CHG", "OTHER"}, {{"12", "old", "o1"}, {"A123", "", "o2"}, {"9912", "", "o3"},
                                         {"1-2", "keep", "o4"}, {"ab", "keep", "o5"}, {"", "keep", "o6"}});
    auto& in = inputs.Seite7;
    in.Change3Alias = "WORK";
    in.Change3Table = "T";
    in.Change3Feld = "TEST";
    in.Change3Feld2 = "CHG";
    in.Change3If = "12";
    in.Change3Then = "NEW";
    run(ops::NeuValueIF);
    EXPECT_EQ(column("T", "CHG"), (std::vector<std::string>{"NEW", "NEW", "NEW", "keep", "keep", "keep"}));
    EXPECT_EQ(host.panels[2], "3 Records changed!");
    EXPECT_EQ(info(), "Complete!\r6 Records of 6 processed");
    in.ChangeUseString = false;
    in.ChangeUseOtherField = true;
    in.OtherFieldBox = "OTHER";
    host = {};
    run(ops::NeuValueIF);
    EXPECT_EQ(column("T", "CHG"), (std::vector<std::string>{"o1", "o2", "o3", "keep", "keep", "keep"}));
    in.ChangeUseOtherField = false;
    in.ChangeUseIfField = true;
    host = {};
    run(ops::NeuValueIF);
    EXPECT_EQ(column("T", "CHG"), (std::vector<std::string>{"12", "A123", "9912", "keep", "keep", "keep"}))
        << "the IF-field's own value is written where it matches";
    in.Change3Feld2 = "TEST";
    in.Change3If = "AB";
    host = {};
    run(ops::NeuValueIF);
    EXPECT_EQ(host.panels[2], "0 Records changed!") << "ab does not contain AB";
}

TEST_F(FieldOps, NewValueIfChecksWithFocus) {
    auto& in = inputs.Seite7;
    in = {};
    in.Change3Alias = "WORK";
    in.Change3Table = "T";
    in.Change3Feld = "TEST";
    in.Change3Feld2 = "CHG";
    in.Change3If = "x";
    run(ops::NeuValueIF);
    EXPECT_EQ(errors(), (std::vector<std::string>{"New String (Target-field) must be specified!"}));
    EXPECT_EQ(host.events.back(), "focus(Change3Then)");
    in.ChangeUseString = false;
    in.ChangeUseOtherField = true;
    host = {};
    run(ops::NeuValueIF);
    EXPECT_EQ(errors(), (std::vector<std::string>{"Target Field must be specified!"}));
    EXPECT_EQ(host.events.back(), "focus(OtherFieldBox)");
    in.Change3If.clear();
    host = {};
    run(ops::NeuValueIF);
    EXPECT_EQ(errors(), (std::vector<std::string>{"String for IF-value must be specified!"}));
}

// ----------------------------------------------------------------- Format Prices

TEST_F(FieldOps, FormatPricesAsksFirstAndWritesEveryRecord) {
    make("T", {"PRICE"}, {{"12,5"}, {""}, {"1.234,56"}});
    auto& in = inputs.Seite6;
    in.PreisAlias1 = "WORK";
    in.PreisTable1 = "T";
    in.PreisFeld1 = "PRICE";
    host.answers = {false};
    run(ops::ExecutePreisFeldFormatieren);
    EXPECT_EQ(host.textsOf(run::MessageKind::Confirmation),
              (std::vector<std::string>{"Are you sure that the field \"PRICE\" is REALLY a \"price field\"?"}));
    EXPECT_FALSE(ranAtAll());
    EXPECT_EQ(column("T", "PRICE"), (std::vector<std::string>{"12,5", "", "1.234,56"}));
    host = {};
    run(ops::ExecutePreisFeldFormatieren);
    EXPECT_EQ(column("T", "PRICE"), (std::vector<std::string>{"12,50", "", "1234,56"}));
    EXPECT_EQ(host.panels[1], "processed: 3 of 3");
    EXPECT_EQ(host.panels[2], "3 Records changed!");
    EXPECT_EQ(info(), "Complete!\r3 Records of 3 processed!");
    in.PreisFeld1.clear();
    host = {};
    run(ops::ExecutePreisFeldFormatieren);
    EXPECT_EQ(errors(), (std::vector<std::string>{"Price Field must be specified!"}));
}

// ---------------------------------------------------------------- Delete records

class DeleteRecords : public FieldOps {
protected:
    void start(const Rows& rows) {
        make("T", {"V"}, rows);
        auto& in = inputs.DelPage;
        in = {};
        in.AliasDel = "WORK";
        in.TableDel = "T";
        in.DelFeldBox = "V";
    }
    void firstN(const std::string& n) {
        inputs.DelPage.DelOpt1 = true;
        inputs.DelPage.DelOpt2 = false;
        inputs.DelPage.FieldDel = n;
    }
};

TEST_F(DeleteRecords, FirstNRecordsInPrimaryOrder) {
    Rows ten;
    for (int i = 1; i <= 10; ++i) ten.push_back({"v" + std::to_string(i)});
    struct Case {
        std::string n;
        std::size_t left;
        std::string message;
    } cases[] = {{"3", 7, "Complete!\r3 Records of 10 processed!\r\rNot found: 0"},
                 {"0", 10, "Complete!\r0 Records of 10 processed!\r\rNot found: 0"},
                 {"-2", 10, "Complete!\r0 Records of 10 processed!\r\rNot found: 0"}};
    for (const auto& c : cases) {
        start(ten);
        firstN(c.n);
        host = {};
        run(ops::executeDeleteRecs);
        const auto left = column("T", "V");
        EXPECT_EQ(left.size(), c.left) << c.n;
        if (c.left == 7) {
            EXPECT_EQ(left.front(), "v4");
        }
        EXPECT_EQ(info(), c.message);
    }
    EXPECT_EQ(host.panels[2], "") << "panel 2 is not written";
}

TEST_F(DeleteRecords, EmptyFieldMode) {
    struct Case {
        Rows rows;
        std::vector<std::string> left;
    } cases[] = {
        {{{""}, {""}, {"a"}, {"b"}}, {"a", "b"}},
        {{{"a"}, {""}, {""}, {""}, {"b"}}, {"a", "b"}},
        {{{"a"}, {"b"}, {" "}}, {"a", "b", " "}},
        {{{"a"}, {""}}, {"a"}},
    };
    for (const auto& c : cases) {
        start(c.rows);
        host = {};
        run(ops::executeDeleteRecs);
        EXPECT_EQ(column("T", "V"), c.left);
        EXPECT_EQ(info(), "Complete!\r" + std::to_string(c.rows.size()) + " Records of " +
                              std::to_string(c.rows.size()) + " processed!\r\rNot found: 0");
    }
}

TEST_F(DeleteRecords, CancelYesEndsItsOwnLoopAndNoGoesOn) {
    Rows ten;
    for (int i = 1; i <= 10; ++i) ten.push_back({"v" + std::to_string(i)});
    struct Case {
        bool yes;
        std::size_t left;
        const char* message;
    } cases[] = {{true, 8, "Complete!\r1 Records of 10 processed!\r\rNot found: 0"},
                 {false, 5, "Complete!\r5 Records of 10 processed!\r\rNot found: 0"}};
    for (const auto& c : cases) {
        start(ten);
        firstN("5");
        host = {};
        host.cancelAtRecord = 2;
        host.answers = {c.yes};
        run(ops::executeDeleteRecs);
        EXPECT_EQ(column("T", "V").size(), c.left) << c.yes;
        EXPECT_EQ(info(), c.message);
        EXPECT_EQ(host.textsOf(run::MessageKind::Confirmation), (std::vector<std::string>{"Abort process?"}));
        EXPECT_TRUE(host.idle);
        EXPECT_EQ(host.CancelRequested, 0);
    }
}

TEST_F(DeleteRecords, ChecksAndRunningOutOfRecords) {
    start({{"a"}, {"b"}});
    firstN("3a");
    run(ops::executeDeleteRecs);
    EXPECT_EQ(errors(), (std::vector<std::string>{"No valid number specified for number of records!"}));
    EXPECT_FALSE(ranAtAll());
    firstN("");
    host = {};
    run(ops::executeDeleteRecs);
    EXPECT_EQ(errors(), (std::vector<std::string>{"Number of records must be specified!"}));
    firstN("5");
    host = {};
    EXPECT_THROW(run(ops::executeDeleteRecs), engine::EngineError);
    EXPECT_EQ(host.count(run::MessageKind::Information), 0);
    EXPECT_TRUE(host.idle);
    EXPECT_TRUE(column("T", "V").empty());
    inputs.DelPage.DelOpt1 = false;
    inputs.DelPage.DelOpt2 = true;
    inputs.DelPage.DelFeldBox = "";
    host = {};
    run(ops::executeDeleteRecs);
    EXPECT_EQ(errors(), (std::vector<std::string>{"Field must be specified!"}));
}

// -------------------------------------------------------------------- Copy Field

class CopyField : public FieldOps {
protected:
    CopyField() {
        make("SRC", {"K", "VAL"}, {{"A", "1"}, {"B", "2"}, {"C", "3"}}, false);
        makeTarget({{"A", "x"}, {"C", "y"}});
        auto& in = inputs.Seite1;
        in.AliasBoxS1 = "WORK";
        in.TableBoxS1 = "SRC";
        in.IndexFeld1Box = "K";
        in.Feld2Box = "VAL";
        in.AliasBox2 = "WORK";
        in.TabellenBox2 = "TGT";
        in.IndexFeld2Box = "KEY";
        in.ZielFeldBox = "OUT";
    }
    void makeTarget(const Rows& rows, unsigned keyIndexOptions = 0) {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("TGT");
        t.fieldDefs() = {{"KEY", FieldType::ftString, 10, true}, {"OUT", FieldType::ftString, 10}};
        t.indexDefs() = {{"", "KEY", engine::ixPrimary}};
        if (keyIndexOptions) t.indexDefs() = {};
        t.createTable();
        t.open();
        for (const auto& r : rows) {
            t.insert();
            t.fieldByName("KEY").setAsString(r[0]);
            t.fieldByName("OUT").setAsString(r[1]);
            t.post();
        }
        t.close();
        if (keyIndexOptions) t.addIndex("ByKey", "KEY", keyIndexOptions);
    }
};

TEST_F(CopyField, MatchedKeysGetTheValueAndUnmatchedKeysCanBeSaved) {
    TempDir out;
    host.savePath = (out / "MOVE_ERROR.TXT").string();
    run(ops::executeMoveFelder);
    EXPECT_EQ(column("TGT", "OUT"), (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(info(), "Complete!\r3 Records of 3 processed!\r\rNot found: 1");
    EXPECT_EQ(host.panels[1], "processed: 3 of 3");
    EXPECT_EQ(host.panels[2], "2 Records changed!");
    ASSERT_EQ(host.saveRequests.size(), 1u);
    EXPECT_EQ(host.saveRequests[0].fileName, "MOVE_ERROR.TXT");
    EXPECT_EQ(host.saveRequests[0].directory, ops::GetExePath());
    EXPECT_EQ(host.saveRequests[0].defaultExtension, "TXT");
    std::ifstream in(out / "MOVE_ERROR.TXT", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "B\r\n");
    EXPECT_EQ(shared.FehlerListe, (std::vector<std::string>{"B"}));
}

TEST_F(CopyField, KeyThatDiffersOnlyInCaseIsNoMatch) {
    makeTarget({{"a", "x"}, {"C", "y"}}, engine::ixCaseInsensitive);
    run(ops::executeMoveFelder);
    EXPECT_EQ(column("TGT", "OUT"), (std::vector<std::string>{"x", "3"}));
    EXPECT_EQ(info(), "Complete!\r3 Records of 3 processed!\r\rNot found: 1") << "A found a but did not match it";
}

// With the target's key field as the target field, each record written leaves the range
// of its key: every record of the range is still written, once.
TEST_F(CopyField, WritingTheKeyFieldItselfReachesEveryRecordOfTheRange) {
    makeTarget({{"A", "1"}, {"A", "2"}, {"A", "3"}, {"C", "4"}}, engine::ixCaseInsensitive);
    inputs.Seite1.Feld2Box = "VAL";
    inputs.Seite1.ZielFeldBox = "KEY";
    make("SRC", {"K", "VAL"}, {{"A", "Z"}}, false);
    run(ops::executeMoveFelder);
    EXPECT_EQ(column("TGT", "KEY"), (std::vector<std::string>{"Z", "Z", "Z", "C"}));
    EXPECT_EQ(info(), "Complete!\r1 Records of 1 processed!\r\rNot found: 0");
    EXPECT_EQ(host.panels[2], "3 Records changed!");
}

TEST_F(CopyField, GenerateNewRecordsAndEmptyTarget) {
    make("NEWT", {"KEY", "OUT"}, {}, false);
    auto& in = inputs.Seite1;
    in.GenNewRecsCheck = true;
    in.IndexFeld1Box = "";
    in.IndexFeld2Box = "";
    in.TabellenBox2 = "NEWT";
    run(ops::executeMoveFelder);
    EXPECT_EQ(column("NEWT", "OUT"), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(column("NEWT", "KEY"), (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(info(), "Complete!\r3 Records of 3 processed!\r\rNot found: 0");
    EXPECT_TRUE(host.saveRequests.empty());

    in = {};
    in.AliasBoxS1 = in.AliasBox2 = "WORK";
    in.TableBoxS1 = "SRC";
    in.TabellenBox2 = "TGT";
    in.IndexFeld1Box = "K";
    in.IndexFeld2Box = "KEY";
    in.ZielFeldBox = "OUT";
    in.LeereTarget = true;
    host = {};
    run(ops::executeMoveFelder);
    EXPECT_EQ(errors(), (std::vector<std::string>{"Source Field must be specified!"}))
        << "a source field is required even while it is hidden";
    in.Feld2Box = "VAL";
    host = {};
    run(ops::executeMoveFelder);
    EXPECT_EQ(column("TGT", "OUT"), (std::vector<std::string>{"", ""}));
}

TEST_F(CopyField, AbortEmptySourceAndATargetKeyWithoutIndex) {
    host.cancelAtRecord = 1;
    host.answers = {true};
    host.savePath.reset();
    run(ops::executeMoveFelder);
    EXPECT_EQ(info(), "Complete!\r0 Records of 3 processed!\r\rNot found: 0");
    EXPECT_EQ(column("TGT", "OUT"), (std::vector<std::string>{"1", "y"}));

    make("SRC", {"K", "VAL"}, {}, false);
    host = {};
    run(ops::executeMoveFelder);
    EXPECT_EQ(info(), "Complete!\r0 Records of 0 processed!\r\rNot found: 0");
    EXPECT_TRUE(host.saveRequests.empty());

    make("SRC", {"K", "VAL"}, {{"A", "1"}}, false);
    inputs.Seite1.IndexFeld2Box = "OUT";
    host = {};
    EXPECT_THROW(run(ops::executeMoveFelder), engine::EngineError);
    EXPECT_EQ(host.count(run::MessageKind::Information), 0);
    EXPECT_TRUE(host.idle);
    EXPECT_TRUE(host.saveRequests.empty());
}

// An error in the middle of the walk still offers to save the keys not found so far.
TEST_F(CopyField, SaveDialogAfterAnErrorMidWalk) {
    make("SRC", {"K", "VAL"}, {{"A", "1"}, {"B", "2"}, {"C", "not a number"}}, false);
    {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("TGT");
        t.fieldDefs() = {{"KEY", FieldType::ftString, 10, true}, {"OUT", FieldType::ftInteger, 0, false}};
        t.indexDefs() = {{"", "KEY", engine::ixPrimary}};
        t.createTable();
        t.open();
        for (const char* k : {"A", "C"}) {
            t.insert();
            t.fieldByName("KEY").setAsString(k);
            t.post();
        }
    }
    TempDir out;
    host.savePath = (out / "MOVE_ERROR.TXT").string();
    EXPECT_THROW(run(ops::executeMoveFelder), engine::EngineError);
    ASSERT_EQ(host.saveRequests.size(), 1u) << "the unmatched key is offered after the error";
    std::ifstream in(out / "MOVE_ERROR.TXT", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "B\r\n");
    EXPECT_EQ(column("TGT", "OUT"), (std::vector<std::string>{"1", ""}));
    EXPECT_TRUE(host.idle);
}

TEST_F(CopyField, AListThatCannotBeWrittenSaysWhy) {
    host.savePath = (dir / "no such folder" / "MOVE_ERROR.TXT").string();
    try {
        run(ops::executeMoveFelder);
        FAIL() << "the failed write was not reported";
    } catch (const engine::EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("MOVE_ERROR.TXT"), std::string::npos) << e.what();
    }
}

TEST_F(CopyField, ChecksInTheirOrder) {
    struct Case {
        std::string run::Seite1Inputs::*member;
        const char* message;
    } cases[] = {
        {&run::Seite1Inputs::ZielFeldBox, "Target field must be specified!"},
        {&run::Seite1Inputs::Feld2Box, "Source Field must be specified!"},
        {&run::Seite1Inputs::IndexFeld2Box, "Index-Field2 must be specified!"},
        {&run::Seite1Inputs::IndexFeld1Box, "Index-Field1 must be specified!"},
        {&run::Seite1Inputs::TableBoxS1, "Table must be specified!"},
        {&run::Seite1Inputs::AliasBoxS1, "ALIAS must be specified!"},
    };
    for (const auto& c : cases) {
        inputs.Seite1.*c.member = "";
        host = {};
        run(ops::executeMoveFelder);
        EXPECT_EQ(errors(), (std::vector<std::string>{c.message}));
        EXPECT_FALSE(ranAtAll());
    }
}

} // namespace
