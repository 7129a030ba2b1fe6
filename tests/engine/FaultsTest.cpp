// Faults a user's machine meets: writers killed at any moment, two processes writing one
// table, a full file system. Afterwards every reader (ours and pxlib) must read the table
// alike, and no process may die by a signal.
#include "PxlibReader.h"
#include "TestSupport.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace fieldsmith::engine;
using namespace fieldsmith::test;
namespace fs = std::filesystem;

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::string memoText(int id, int round) {
    // Short memos stay in the record, middle ones share blob blocks, long ones get their own.
    const std::size_t sizes[] = {6, 300, 5000};
    std::string text = "memo " + std::to_string(id) + "/" + std::to_string(round) + " ";
    text.resize(sizes[static_cast<std::size_t>(id + round) % 3], static_cast<char>('a' + id % 26));
    return text;
}

// Runs body in a child process and returns its pid; the child ends with 0 when body returns,
// 3 when it threw.
pid_t inChild(const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        try {
            body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: %s\n", e.what());
            _exit(3);
        }
        _exit(0);
    }
    return pid;
}

// How a child ended: "exit N" or "signal NAME".
std::string ending(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
    return "exit " + std::to_string(WEXITSTATUS(status));
}

class Faults : public ::testing::Test {
protected:
    Faults() { session.addStandardAlias("WORK", dir.path()); }

    void make(const std::string& name, int records, bool withIndex = false) {
        Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName(name);
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                         {"NAME", FieldType::ftString, 16, false},
                         {"NOTE", FieldType::ftMemo, 10, false}};
        t.indexDefs() = {{"", "ID", ixPrimary}};
        t.createTable();
        t.open();
        for (int id = 1; id <= records; ++id) insert(t, id, 0);
        t.close();
        if (withIndex) t.addIndex("ByName", "NAME", ixCaseInsensitive);
    }

    static void insert(Table& t, int id, int round) {
        t.insert();
        t.fieldByName("ID").setAsInteger(id);
        t.fieldByName("NAME").setAsString("n" + std::to_string(id));
        t.fieldByName("NOTE").setAsString(memoText(id, round));
        t.post();
    }

    std::unique_ptr<Table> open(const std::string& name, Session& s) {
        auto t = std::make_unique<Table>(s);
        t->setDatabaseName("WORK");
        t->setTableName(name);
        t->open();
        return t;
    }

    // The table as our reader and pxlib see it: they must agree on every record pxlib
    // reads, pxlib reads as many as the header counts, and our walk of the blocks finds
    // those and at most the records an interrupted insert left ahead of the count: one, or
    // a batch of a table being filled. Returns our IDs in key order.
    std::vector<long> expectReadersAgree(const std::string& name, const std::string& stage,
                                         std::size_t mostAhead = 1) {
        SCOPED_TRACE(stage);
        const fs::path db = dir.path() / (name + ".DB");
        std::vector<long> ours;
        std::vector<std::string> notes;
        try {
            Session s;
            s.addStandardAlias("WORK", dir.path());
            auto t = open(name, s);
            for (t->first(); !t->eof() && t->recordCount() > 0; t->next()) {
                ours.push_back(static_cast<long>(t->fieldByName("ID").asInteger()));
                notes.push_back(t->fieldByName("NOTE").asString());
            }
            EXPECT_EQ(static_cast<std::int64_t>(ours.size()), t->recordCount());
        } catch (const EngineError& e) {
            ADD_FAILURE() << "our reader: " << e.what();
            return ours;
        }
        for (std::size_t i = 0; i < notes.size(); ++i) {
            // Every memo starts with its record's ID (as far as a short memo holds it).
            const std::string own = "memo " + std::to_string(ours[i]) + "/";
            const std::size_t n = std::min(own.size(), notes[i].size());
            if (n < 5 || notes[i].compare(0, n, own, 0, n) != 0)
                ADD_FAILURE() << "record " << ours[i] << " has the memo " << notes[i].substr(0, 20);
        }
        const auto bytes = readFileBytes(db);
        const std::uint32_t headerCount = le32(bytes, 6);
        EXPECT_TRUE(ours.size() >= headerCount && ours.size() <= headerCount + mostAhead)
            << ours.size() << " records in the blocks, " << headerCount << " in the header";
        try {
            const PxTable px = readWithPxlib(db);
            EXPECT_EQ(static_cast<std::uint32_t>(px.recordCount), headerCount);
            for (std::size_t r = 0; r < px.records.size() && r < ours.size(); ++r)
                if (px.records[r][0].integer != ours[r]) {
                    ADD_FAILURE() << "record " << r << ": pxlib reads ID " << px.records[r][0].integer
                                  << ", we read " << ours[r];
                    break;
                }
        } catch (const std::exception& e) {
            ADD_FAILURE() << "pxlib: " << e.what();
        }
        return ours;
    }

    TempDir dir;
    Session session;
};

// ----------------------------------------------------------------------- killed writers

TEST_F(Faults, WritersKilledAtAnyMomentLeaveTablesEveryReaderReadsAlike) {
    struct Case {
        const char* what;
        //! One step of the child's endless work; i counts the steps.
        std::function<void(Table&, int)> step;
        bool filling = false;     //!< the table is filled: its new blocks go out a batch at a time
        int longestRunUs = 25000; //!< the child works up to this long before the kill
    } cases[] = {
        {"appending", [](Table& t, int i) { insert(t, 1000 + i, 0); }},
        // Long enough to be killed after some batches, and while one is written.
        {"filling", [](Table& t, int i) { insert(t, 1000 + i, 0); }, true, 80000},
        {"deleting and appending",
         [](Table& t, int i) {
             t.first();
             if (i % 3 != 2) t.deleteRecord();
             insert(t, 5000 + i, 1);
         }},
        {"rewriting memos",
         [](Table& t, int i) {
             t.first();
             t.moveBy(i % 50);
             const int id = static_cast<int>(t.fieldByName("ID").asInteger());
             t.edit();
             t.fieldByName("NOTE").setAsString(memoText(id, i));
             t.post();
         }},
    };
    std::mt19937 rng(20261210);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = std::string("K") + std::to_string(&c - cases);
        make(name, 60);
        for (int round = 0; round < 12; ++round) {
            int go[2];
            ASSERT_EQ(pipe(go), 0);
            const pid_t pid = inChild([&] {
                Session s;
                s.addStandardAlias("WORK", dir.path());
                auto t = open(name, s);
                t->setFilling(c.filling);
                char ready = 'r';
                (void)!write(go[1], &ready, 1);
                for (int i = round * 100000;; ++i) c.step(*t, i);
            });
            char ready;
            ASSERT_EQ(read(go[0], &ready, 1), 1);
            close(go[0]);
            close(go[1]);
            usleep(std::uniform_int_distribution<int>(500, c.longestRunUs)(rng));
            kill(pid, SIGKILL);
            EXPECT_EQ(ending(pid), "signal Killed");
            const auto ids = expectReadersAgree(name, "after kill " + std::to_string(round),
                                                c.filling ? 100000 : 1);
            if (c.filling) {
                // What the killed fill left is the records it began with, then a run of those
                // it appended, in order, without a gap.
                for (std::size_t k = 1; k < ids.size(); ++k)
                    if (ids[k - 1] >= 1000 && ids[k] != ids[k - 1] + 1 &&
                        ids[k] / 100000 == ids[k - 1] / 100000) {
                        ADD_FAILURE() << "record " << ids[k] << " follows " << ids[k - 1];
                        break;
                    }
            }
            if (HasFailure()) return;
        }
    }
}

// ------------------------------------------------------------------------- two writers

// Another program opens a table while this one fills it fast: the chain it reads may lead
// past the end of the file as it measured it, and the table still opens, never "damaged".
TEST_F(Faults, ATableBeingFilledOpensForAnotherProgramAtAnyMoment) {
    {
        Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("GROWING");
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true}, {"NAME", FieldType::ftString, 16, false}};
        t.indexDefs() = {{"", "ID", ixPrimary}};
        t.createTable();
    }
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t pid = inChild([&] {
        Session s;
        s.addStandardAlias("WORK", dir.path());
        auto t = open("GROWING", s);
        t->setFilling(true);
        char ready = 'r';
        (void)!write(go[1], &ready, 1);
        for (int id = 1;; ++id) {
            t->insert();
            t->fieldByName("ID").setAsInteger(id);
            t->fieldByName("NAME").setAsString("n" + std::to_string(id));
            t->post();
        }
    });
    char ready;
    ASSERT_EQ(read(go[0], &ready, 1), 1);
    close(go[0]);
    close(go[1]);
    std::int64_t seen = 0;
    for (int k = 0; k < 60; ++k) {
        Session s;
        s.addStandardAlias("WORK", dir.path());
        try {
            auto t = open("GROWING", s);
            EXPECT_GE(t->recordCount(), seen) << "open " << k;
            seen = t->recordCount();
        } catch (const EngineError& e) {
            ADD_FAILURE() << "open " << k << ": " << e.what();
            break;
        }
        usleep(5000);
    }
    kill(pid, SIGKILL);
    EXPECT_EQ(ending(pid), "signal Killed");
    EXPECT_GT(seen, 0) << "the filled batches were seen";
}

// A second writer is refused while the first writes, and goes on once it has finished;
// nothing is lost or crossed.
TEST_F(Faults, TwoProcessesWritingOneTableTakeTurns) {
    struct Case {
        const char* what;
        std::function<void(Table&, int who, int i)> step;
    } cases[] = {
        {"appending", [](Table& t, int who, int i) { insert(t, 10000 * (who + 1) + i, 0); }},
        {"rewriting memos",
         [](Table& t, int who, int i) {
             // Each writer has its own records: even or odd IDs.
             t.first();
             t.moveBy((2 * i + who) % 40);
             const int id = static_cast<int>(t.fieldByName("ID").asInteger());
             t.edit();
             t.fieldByName("NOTE").setAsString(memoText(id, 7 + who));
             t.post();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = std::string("W") + std::to_string(&c - cases);
        make(name, 40);
        int ready[2], go[2], refusals[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(go), 0);
        ASSERT_EQ(pipe(refusals), 0);
        pid_t pids[2];
        for (int who = 0; who < 2; ++who) {
            pids[who] = inChild([&, who] {
                Session s;
                s.addStandardAlias("WORK", dir.path());
                auto t = open(name, s);
                char byte = 'r';
                (void)!write(ready[1], &byte, 1);
                (void)!read(go[0], &byte, 1);
                int refused = 0;
                for (int i = 0; i < 40; ++i) {
                    for (;;) {
                        try {
                            c.step(*t, who, i);
                            break;
                        } catch (const EngineError& e) {
                            // The user answers the retry question with OK a moment later.
                            if (!e.isDatabaseError()) throw;
                            t->cancel();
                            ++refused;
                            usleep(2000);
                        }
                    }
                    usleep(300);
                }
                t->close();
                (void)!write(refusals[1], &refused, sizeof refused);
            });
        }
        char byte;
        for (int k = 0; k < 2; ++k) ASSERT_EQ(read(ready[0], &byte, 1), 1);
        (void)!write(go[1], "gg", 2); // both have opened the table before either writes
        EXPECT_EQ(ending(pids[0]), "exit 0");
        EXPECT_EQ(ending(pids[1]), "exit 0");
        int refused[2] = {};
        for (int& r : refused) ASSERT_EQ(read(refusals[0], &r, sizeof r), static_cast<ssize_t>(sizeof r));
        EXPECT_GT(refused[0] + refused[1], 0) << "the second writer was let in while the first wrote";
        for (int fd : {ready[0], ready[1], go[0], go[1], refusals[0], refusals[1]}) close(fd);

        const auto ids = expectReadersAgree(name, "after both writers");
        if (std::string(c.what) == "appending") {
            EXPECT_EQ(ids.size(), 120u) << "40 records and 40 from each writer";
        } else {
            Session s;
            s.addStandardAlias("WORK", dir.path());
            auto t = open(name, s);
            for (t->first(); !t->eof(); t->next()) {
                const int id = static_cast<int>(t->fieldByName("ID").asInteger());
                EXPECT_EQ(t->fieldByName("NOTE").asString(), memoText(id, 7 + (id - 1) % 2))
                    << "record " << id << " carries its own writer's memo";
            }
        }
    }
}

// A structural change needs the table to itself: it waits for the writer, and neither is
// harmed.
TEST_F(Faults, AStructuralChangeWaitsForTheWriter) {
    make("S", 30);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t writer = inChild([&] {
        Session s;
        s.addStandardAlias("WORK", dir.path());
        auto t = open("S", s);
        char byte = 'r';
        (void)!write(ready[1], &byte, 1);
        for (int i = 0; i < 60; ++i) {
            insert(*t, 100 + i, 0);
            usleep(1000);
        }
        t->close();
    });
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    close(ready[1]);
    Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("S");
    int refused = 0;
    for (;;) {
        try {
            t.addIndex("ByName", "NAME", ixCaseInsensitive);
            break;
        } catch (const EngineError& e) {
            ASSERT_TRUE(e.isDatabaseError()) << e.what();
            ++refused;
            usleep(5000);
        }
    }
    EXPECT_GT(refused, 0) << "the index was added while the writer had the table open";
    EXPECT_EQ(ending(writer), "exit 0");
    EXPECT_EQ(expectReadersAgree("S", "after the writer and the new index").size(), 90u);
    t.setIndexName("ByName");
    t.open();
    EXPECT_EQ(t.recordCount(), 90);
}

// ----------------------------------------------------------------------------- full disk

// A small file system of our own for the table: a tmpfs where the test may mount one, else
// the process's file-size limit (set in the child that writes).
class SmallDisk {
public:
    SmallDisk(const fs::path& dir, std::size_t bytes) : dir_(dir), bytes_(bytes) {
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    //! In the writing child: the limit stands in for the disk when no tmpfs could be had.
    void limitThisProcess() const {
        if (mounted_) return;
        rlimit limit{static_cast<rlim_t>(bytes_), static_cast<rlim_t>(bytes_)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }

private:
    fs::path dir_;
    std::size_t bytes_;
    bool mounted_ = false;
};

TEST_F(Faults, AFullDiskIsAnErrorThatLeavesTheTableWhole) {
    struct Case {
        const char* what;
        std::function<void(Table&, int)> step;
        bool filling = false;
    } cases[] = {
        {"appending", [](Table& t, int i) { insert(t, 1000 + i, 0); }},
        {"filling", [](Table& t, int i) { insert(t, 1000 + i, 0); }, true},
        {"growing memos",
         [](Table& t, int i) {
             t.first();
             t.moveBy(i % 20);
             t.edit();
             t.fieldByName("NOTE").setAsString(
                 memoText(static_cast<int>(t.fieldByName("ID").asInteger()), 0) +
                 std::string(static_cast<std::size_t>(4000 + 97 * i), 'g'));
             t.post();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir small;
        SmallDisk disk(small.path(), 3 * 1024 * 1024);
        Session s;
        s.addStandardAlias("WORK", small.path());
        {
            Table t(s);
            t.setDatabaseName("WORK");
            t.setTableName("FULL");
            t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                             {"NAME", FieldType::ftString, 16, false},
                             {"NOTE", FieldType::ftMemo, 10, false}};
            t.indexDefs() = {{"", "ID", ixPrimary}};
            t.createTable();
            t.open();
            for (int id = 1; id <= 20; ++id) insert(t, id, 0);
        }
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t pid = inChild([&] {
            disk.limitThisProcess();
            Session cs;
            cs.addStandardAlias("WORK", small.path());
            Table t(cs);
            t.setDatabaseName("WORK");
            t.setTableName("FULL");
            t.open();
            t.setFilling(c.filling);
            std::string message;
            for (int i = 0; i < 200000 && message.empty(); ++i) {
                try {
                    c.step(t, i);
                } catch (const EngineError& e) {
                    message = e.what();
                }
            }
            try {
                t.close();
            } catch (const EngineError& e) {
                if (message.empty()) message = e.what();
            }
            (void)!write(report[1], message.data(), message.size());
        });
        close(report[1]);
        EXPECT_EQ(ending(pid), "exit 0") << "the writer ended by itself, not by a signal";
        char buf[512] = {};
        const ssize_t n = read(report[0], buf, sizeof buf - 1);
        close(report[0]);
        const std::string message(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        EXPECT_TRUE(message.find("No space left on device") != std::string::npos ||
                    message.find("File too large") != std::string::npos)
            << "the error names the reason: " << message;
        EXPECT_NE(message.find(small.path().string()), std::string::npos) << "and the file: " << message;

        // Read while the small disk is still there.
        std::vector<long> ids;
        try {
            Table t(s);
            t.setDatabaseName("WORK");
            t.setTableName("FULL");
            t.open();
            for (t.first(); !t.eof(); t.next()) {
                ids.push_back(static_cast<long>(t.fieldByName("ID").asInteger()));
                t.fieldByName("NOTE").asString();
            }
        } catch (const EngineError& e) {
            ADD_FAILURE() << "the table no longer reads: " << e.what();
        }
        EXPECT_GE(ids.size(), 20u);
        const auto bytes = readFileBytes(small.path() / "FULL.DB");
        EXPECT_TRUE(ids.size() == le32(bytes, 6) || ids.size() == le32(bytes, 6) + 1);
        for (const auto& e : fs::directory_iterator(small.path()))
            EXPECT_NE(e.path().extension(), ".tmp") << e.path() << " was left behind";
    }
}

// Rebuilding the indexes at the end of a run on a full disk: the error comes, the old index
// files stay as they were, and no temporary file is left.
TEST_F(Faults, AnIndexRebuildThatCannotBeWrittenKeepsTheOldFiles) {
    TempDir small;
    SmallDisk disk(small.path(), 4 * 1024 * 1024);
    Session s;
    s.addStandardAlias("WORK", small.path());
    {
        Table t(s);
        t.setDatabaseName("WORK");
        t.setTableName("IDX");
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true}, {"NAME", FieldType::ftString, 60, false}};
        t.indexDefs() = {{"", "ID", ixPrimary}};
        t.createTable();
        t.open();
        for (int id = 1; id <= 2000; ++id) {
            t.insert();
            t.fieldByName("ID").setAsInteger(id);
            t.fieldByName("NAME").setAsString("name " + std::to_string(id));
            t.post();
        }
        t.close();
        t.addIndex("ByName", "NAME", 0);
    }
    const auto oldX = readFileBytes(small.path() / "IDX.XG0");
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t pid = inChild([&] {
        Session cs;
        cs.addStandardAlias("WORK", small.path());
        Table t(cs);
        t.setDatabaseName("WORK");
        t.setTableName("IDX");
        t.open();
        for (t.first(); !t.eof(); t.next()) {
            t.edit();
            t.fieldByName("NAME").setAsString("renamed " + t.fieldByName("ID").asString());
            t.post();
        }
        // Leave the disk without room for a new index file before the run flushes.
        if (disk.mounted()) {
            std::FILE* f = std::fopen((small.path() / "filler").c_str(), "wb");
            std::vector<char> block(4096, 'f');
            while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
            }
            std::fclose(f);
        } else {
            rlimit limit{4096, 4096}; // no new file may grow past its first block
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::string message;
        try {
            t.flush();
        } catch (const EngineError& e) {
            message = e.what();
        }
        (void)!write(report[1], message.data(), message.size());
        try {
            t.close();
        } catch (const EngineError&) {
        }
    });
    close(report[1]);
    EXPECT_EQ(ending(pid), "exit 0");
    char buf[512] = {};
    const ssize_t n = read(report[0], buf, sizeof buf - 1);
    close(report[0]);
    EXPECT_GT(n, 0) << "the failed rebuild was not reported";
    fs::remove(small.path() / "filler");
    for (const auto& e : fs::directory_iterator(small.path()))
        EXPECT_NE(e.path().extension(), ".tmp") << e.path() << " was left behind";
    EXPECT_EQ(readFileBytes(small.path() / "IDX.XG0"), oldX) << "the old index file stays";
    // The old index is out of date now, and says so: the next writer rebuilds it.
    Table t(s);
    t.setDatabaseName("WORK");
    t.setTableName("IDX");
    t.setIndexName("ByName");
    t.open();
    t.first();
    EXPECT_EQ(t.fieldByName("NAME").asString(), "renamed 1");
    t.edit();
    t.post();
    t.close();
    EXPECT_NE(readFileBytes(small.path() / "IDX.XG0"), oldX) << "rebuilt by the next writer";
}

} // namespace
