// Helpers of the CSV tests: files written byte for byte, tables read back through the
// engine, and one fixture that runs the page's operation with the test host.
#pragma once

#include "app/run/Operations.h"
#include "app/run/TestHost.h"
#include "engine/FieldDef.h"
#include "engine/Session.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fieldsmith::csvtest {

using test::TempDir;
using Records = std::vector<std::vector<std::string>>;

//! Writes the bytes as they are and returns the file's path.
std::filesystem::path writeFile(const TempDir& dir, const std::string& name,
                                const std::string& bytes);
std::string readFile(const std::filesystem::path& file);

//! A table as the engine reads it: field definitions and every record's values as text.
struct TableContent {
    std::vector<engine::FieldDef> fields;
    Records records;
};
TableContent readTable(engine::Session& session, const std::filesystem::path& tablePath);
//! "NAME string 5" or "INFO memo 100", one per field, for compact expectations.
std::vector<std::string> describeFields(const std::vector<engine::FieldDef>& fields);

//! Creates a Paradox table with the definitions and records (values as text).
void makeTable(engine::Session& session, const std::filesystem::path& tablePath,
               const std::vector<engine::FieldDef>& fields, const Records& records);

//! A directory aliased WORK, a session, the test host and the page's inputs.
class CsvRun : public ::testing::Test {
protected:
    CsvRun();

    //! Runs ExecuteCsvExchange with the inputs as they are.
    void run();
    //! An import of the file into dir/T.DB with the page's defaults otherwise.
    void import(const std::filesystem::path& file, const std::string& target = "T.DB");
    std::vector<std::string> errors() const;
    std::vector<std::string> questions() const;

    TempDir dir;
    engine::Session session;
    run::TestHost host;
    run::PageInputs inputs;
    run::SharedState shared{session};
};

} // namespace fieldsmith::csvtest
