// The fixture of the Create Table tests: a session with a source and a target directory
// alias, an embedded Oracle database ORA reached through the server alias ORA, the test
// host and the page's inputs; and tables written and read back through the engine.
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

namespace fieldsmith::oraclient {
class OracleQuery;
}

namespace fieldsmith::createtest {

using Records = std::vector<std::vector<std::string>>;

//! A table as the engine reads it in its primary order.
struct TableContent {
    std::vector<engine::FieldDef> fields;
    std::vector<engine::IndexDef> indexes;
    Records records;
};
TableContent readTable(engine::Session& session, const std::filesystem::path& tablePath);

//! Creates a table (its type by the name's extension) with fields, indexes and records.
void makeTable(engine::Session& session, const std::filesystem::path& tablePath,
               const std::vector<engine::FieldDef>& fields, const Records& records,
               const std::vector<engine::IndexDef>& indexes = {});

//! The rows of an open Oracle query from its first, every value as text.
Records rowsOf(oraclient::OracleQuery& q);

//! The real Paradox tables of the shared test data; empty when they are absent.
std::filesystem::path sharedParadoxDir();

class CreateRun : public ::testing::Test {
protected:
    CreateRun();

    //! Runs ExecuteCreateTable with the inputs as they are; errors propagate.
    void run();
    //! Inputs for a copy from SRC/source into alias target as newTable.
    void aim(const std::string& source, const std::string& newTable,
             const std::string& targetAlias = "DST");
    //! The logon answers for a right logon of SALES on ORA.
    void answerLogon(const std::string& password = "s3cret");
    std::vector<std::string> errors() const { return host.textsOf(run::MessageKind::Error); }
    std::vector<std::string> infos() const { return host.textsOf(run::MessageKind::Information); }
    std::vector<std::string> questions() const {
        return host.textsOf(run::MessageKind::Confirmation);
    }
    std::filesystem::path src() const { return dir / "src"; }
    std::filesystem::path dst() const { return dir / "dst"; }
    std::filesystem::path salesSchema() const;

    test::TempDir dir;
    engine::Session session;
    run::TestHost host;
    run::PageInputs inputs;
    run::SharedState shared;
};

} // namespace fieldsmith::createtest
