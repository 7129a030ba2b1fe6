// The preview's own directory: copies of a preview killed before its end are removed by the
// next preview, once the process that made them is gone; a live preview's stay.
#include "engine/Session.h"
#include "support/TempDir.h"
#include "tables/Preview.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace fieldsmith;
namespace fsys = std::filesystem;

namespace {

// Points the system's temporary directory at dir for the length of a scope.
class TempDirectoryScope {
public:
    explicit TempDirectoryScope(const fsys::path& dir) {
        if (const char* old = std::getenv("TMPDIR")) old_ = old;
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TempDirectoryScope() {
        if (old_.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", old_.c_str(), 1);
    }

private:
    std::string old_;
};

pid_t deadProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(PreviewScope, RemovesTheCopiesOfAKilledPreviewOnly) {
    test::TempDir tmp;
    const TempDirectoryScope scope(tmp.path());
    auto leftover = [&](const std::string& name, long pid) {
        fsys::create_directories(tmp / name / "1");
        std::ofstream(tmp / name / "1" / "KUNDEN.DB") << "copy";
        if (pid) std::ofstream(tmp / name / "owner.pid") << pid << '\n';
    };
    leftover("fieldsmith-preview-killed", deadProcess());
    leftover("fieldsmith-preview-running", ::getpid());
    leftover("fieldsmith-preview-starting", 0);
    engine::Session session;
    fsys::path root;
    {
        tables::PreviewScope preview(session);
        root = preview.root();
        EXPECT_EQ(root.parent_path(), tmp.path());
        EXPECT_TRUE(fsys::exists(root / "owner.pid"));
        EXPECT_FALSE(fsys::exists(tmp / "fieldsmith-preview-killed"));
        EXPECT_TRUE(fsys::exists(tmp / "fieldsmith-preview-running"));
        EXPECT_TRUE(fsys::exists(tmp / "fieldsmith-preview-starting"));
    }
    EXPECT_FALSE(fsys::exists(root));
}

} // namespace
