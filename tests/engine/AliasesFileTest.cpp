// Editing aliases.ini: aliases come and go section by section, the user's own lines stay,
// the session reads what was written, and reachability is told in words.
#include "engine/AliasesFile.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using namespace fieldsmith;
using engine::AliasEntry;
using engine::AliasesFile;
using fieldsmith::test::TempDir;

namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const char* kHandWritten = "; aliases of the shop\n"
                           "[ARBEIT]\n"
                           "; the work directory\n"
                           "TYPE=STANDARD\n"
                           "PATH=/data/arbeit\n"
                           "\n"
                           "# the old one, kept for a while\n"
                           "[ALT]\n"
                           "TYPE=STANDARD\n"
                           "PATH=/data/alt\n";

TEST(AliasesFile, ChangesTouchOnlyTheirSectionAndKeepTheUsersLines) {
    TempDir dir;
    const auto path = dir / "aliases.ini";
    std::ofstream(path) << kHandWritten;

    struct Case {
        const char* what;
        std::function<void(AliasesFile&)> change;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"a new alias goes at the end after a blank line",
         [](AliasesFile& f) {
             f.set({"LAGER", {{"TYPE", "SQLITE"}, {"SERVER NAME", "/data/lager.db"}}});
         },
         std::string(kHandWritten) + "\n[LAGER]\nTYPE=SQLITE\nSERVER NAME=/data/lager.db\n"},
        {"a changed alias keeps its comment and its lines' places; a new parameter follows the "
         "last",
         [](AliasesFile& f) {
             f.set({"arbeit", {{"PATH", "/srv/arbeit"}, {"TYPE", "STANDARD"}, {"NOTE", "x"}}});
         },
         "; aliases of the shop\n[arbeit]\n; the work "
         "directory\nTYPE=STANDARD\nPATH=/srv/arbeit\nNOTE=x\n\n"
         "# the old one, kept for a while\n[ALT]\nTYPE=STANDARD\nPATH=/data/alt\n"},
        {"a parameter left out goes",
         [](AliasesFile& f) {
             f.set({"ALT", {{"TYPE", "STANDARD"}}});
         },
         "; aliases of the shop\n[ARBEIT]\n; the work "
         "directory\nTYPE=STANDARD\nPATH=/data/arbeit\n\n"
         "# the old one, kept for a while\n[ALT]\nTYPE=STANDARD\n"},
        {"a removed alias goes with its lines; the next section keeps its comment",
         [](AliasesFile& f) { EXPECT_TRUE(f.remove("Arbeit")); },
         "; aliases of the shop\n\n# the old one, kept for a "
         "while\n[ALT]\nTYPE=STANDARD\nPATH=/data/alt\n"},
        {"removing an unknown alias changes nothing",
         [](AliasesFile& f) { EXPECT_FALSE(f.remove("NOPE")); }, kHandWritten},
    };
    for (const auto& c : cases) {
        std::ofstream(path, std::ios::trunc) << kHandWritten;
        AliasesFile file(path);
        c.change(file);
        file.save();
        EXPECT_EQ(slurp(path), c.expected) << c.what;
    }
    // Nothing is left beside the file.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST(AliasesFile, TheSessionReadsWhatWasWritten) {
    TempDir dir;
    AliasesFile file(dir / "aliases.ini"); // no file yet
    file.set({"WORK", {{"TYPE", "STANDARD"}, {"PATH", dir.path().string()}}});
    file.set(
        {"PG",
         {{"TYPE", "POSTGRESQL"}, {"SERVER NAME", "db.example:5433/shop"}, {"USER NAME", "anna"}}});
    file.save();
    engine::Session session(dir.path());
    session.loadConfiguration();
    EXPECT_EQ(session.aliasNames(), (std::vector<std::string>{"PG", "WORK"}));
    EXPECT_EQ(session.directoryOf("WORK"), dir.path());
    EXPECT_TRUE(session.isSqlAlias("PG"));

    EXPECT_THROW(file.set({"BAD]NAME", {}}), engine::EngineError);
    EXPECT_THROW(file.set({"X", {{"PATH", "a\nb"}}}), engine::EngineError)
        << "a value cannot break its line";
}

TEST(AliasesFile, ReachabilityIsToldInWords) {
    TempDir dir;
    std::ofstream(dir / "shop.db") << "";
    struct Case {
        AliasEntry alias;
        std::string expected; // a part of the answer; empty: reachable
    };
    const std::vector<Case> cases = {
        {{"A", {{"TYPE", "STANDARD"}, {"PATH", dir.path().string()}}}, ""},
        {{"A", {{"TYPE", "STANDARD"}, {"PATH", (dir / "missing").string()}}}, "does not exist"},
        {{"A", {{"TYPE", "STANDARD"}}}, "has no PATH"},
        {{"A", {{"TYPE", "SQLITE"}, {"SERVER NAME", (dir / "shop.db").string()}}}, ""},
        {{"A", {{"TYPE", "SQLITE"}, {"SERVER NAME", (dir / "new.db").string()}}}, ""},
        {{"A", {{"TYPE", "SQLITE"}, {"SERVER NAME", (dir / "no/where.db").string()}}},
         "does not exist"},
        // Port 1 on the loopback: nobody listens there.
        {{"A", {{"TYPE", "POSTGRESQL"}, {"SERVER NAME", "127.0.0.1:1/shop"}}},
         "No PostgreSQL server answers"},
        {{"A", {{"TYPE", "ORACLE"}}}, "not supported"},
    };
    for (const auto& c : cases) {
        const std::string answer = engine::aliasReachability(c.alias);
        if (c.expected.empty())
            EXPECT_EQ(answer, "") << c.alias.param("SERVER NAME") << c.alias.param("PATH");
        else
            EXPECT_NE(answer.find(c.expected), std::string::npos) << answer;
    }
}

} // namespace
