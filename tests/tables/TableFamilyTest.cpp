// Deleting a table's family of files (Paradox or dBase) before the table is made again.
#include "tables/TableFamily.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using fieldsmith::tables::DeleteTableFamily;
using fieldsmith::tables::familyExtensions;
using fieldsmith::test::TempDir;

namespace {

std::set<std::string> filesIn(const TempDir& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.insert(e.path().filename().string());
    return names;
}

void touch(const TempDir& dir, const std::set<std::string>& names) {
    for (const auto& n : names)
        std::ofstream(dir / n) << n;
}

TEST(TableFamily, ExtensionListInItsOrder) {
    const auto& ext = familyExtensions();
    ASSERT_EQ(ext.size(), 57u);
    EXPECT_EQ(ext[0], "DB");
    EXPECT_EQ(ext[4], "TV");
    EXPECT_EQ(ext[5], "XG0");
    EXPECT_EQ(ext[20], "XGF");
    EXPECT_EQ(ext[21], "XH0");
    EXPECT_EQ(ext[30], "XH9");
    EXPECT_EQ(ext[31], "YG0");
    EXPECT_EQ(ext[56], "YH9");
}

TEST(TableFamily, DeletesTheFamilyAndNothingElse) {
    struct Case {
        const char* name;
        std::set<std::string> present;
        std::set<std::string> remaining;
    } cases[] = {
        {"ORDERS.DB",
         {"ORDERS.DB", "ORDERS.PX", "ORDERS.XG0", "ORDERS.YG0", "ORDERS.MB", "ORDER.DB",
          "ORDERS2.PX"},
         {"ORDER.DB", "ORDERS2.PX"}},
        {"ORDERS", {"ORDERS.DB", "ORDERS.TV", "ORDERS.FAM"}, {}},
        {"ORDERS.DB",
         {"ORDERS.XGA", "ORDERS.YHA", "ORDERS.XH9", "ORDERS.VAL"},
         {"ORDERS.YHA", "ORDERS.VAL"}},
        // Extensions in any case belong to the family; a stem in another case is another table.
        {"ORDERS.DB", {"ORDERS.px", "ORDERS.Mb", "orders.px"}, {"orders.px"}},
        // A dBase name deletes the dBase family in any case of the extensions; the Paradox
        // family beside it and tables of other stems belong to other tables.
        {"ORDERS.DBF",
         {"ORDERS.DB", "ORDERS.PX", "ORDERS.DBF", "ORDERS.dbt", "ORDERS.Mdx", "ORDERS2.DBF",
          "orders.dbt", "ORDERS.NDX"},
         {"ORDERS.DB", "ORDERS.PX", "ORDERS2.DBF", "orders.dbt", "ORDERS.NDX"}},
        {"ORDERS.dbf", {"ORDERS.DBF", "ORDERS.DBT"}, {}},
        // A text name: nothing is deleted.
        {"ORDERS.TXT", {"ORDERS.DB", "ORDERS.TXT"}, {"ORDERS.DB", "ORDERS.TXT"}},
        {"", {"ORDERS.DB"}, {"ORDERS.DB"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        touch(dir, c.present);
        DeleteTableFamily((dir.path() / c.name).string() +
                          (std::string(c.name).empty() ? "/" : ""));
        EXPECT_EQ(filesIn(dir), c.remaining) << c.name;
    }
}

TEST(TableFamily, FamilyFilesAreKnownByDirectoryStemAndExtension) {
    TempDir dir, other;
    touch(dir, {"ORDERS.DB", "ORDERS.MB", "ORDERS.xg0", "ORDERS.csv", "orders.px", "ORDERS2.PX"});
    std::filesystem::create_symlink(dir / "ORDERS.DB", dir / "link.csv");
    const auto table = dir / "ORDERS.DB";
    struct Case {
        std::filesystem::path file;
        bool member;
    } cases[] = {
        {dir / "ORDERS.DB", true},    {dir / "ORDERS.MB", true},  {dir / "ORDERS.xg0", true},
        {dir / "ORDERS.csv", false},  {dir / "orders.px", false}, {dir / "ORDERS2.PX", false},
        {other / "ORDERS.MB", false}, {dir / "link.csv", true}, // the table file by another name
    };
    for (const auto& c : cases)
        EXPECT_EQ(fieldsmith::tables::isFamilyFile(c.file, table), c.member) << c.file;
}

TEST(TableFamily, MissingDirectoryIsSilentlyIgnored) {
    EXPECT_NO_THROW(DeleteTableFamily("/nonexistent/dir/ORDERS.DB"));
}

} // namespace
