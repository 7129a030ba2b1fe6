// `fieldsmith-batch run CreateTableSeite ...` into the engine and into the Oracle target:
// the logon from --oracle-logon with the password from the environment, the replace
// question answered by --yes, and a password on the command line refused.
#include "CreateTestSupport.h"

#include "app/run/BatchRun.h"
#include "create/CreateTable.h"
#include "engine/Table.h"

#include <cstdlib>
#include <sstream>

namespace fieldsmith::createtest {
namespace {

using engine::FieldType;

class CreateBatch : public CreateRun {
protected:
    CreateBatch() {
        create::registerOperations(operations);
        makeTable(
            session, src() / "ORDERS.DB",
            {{"ORDERNO", FieldType::ftInteger, 0, true}, {"NAME", FieldType::ftString, 10, false}},
            {{"1", "one"}, {"2", "two"}}, {{"", "ORDERNO", engine::ixPrimary | engine::ixUnique}});
    }
    ~CreateBatch() override { ::unsetenv("FIELDSMITH_ORACLE_PASSWORD"); }
    int batch(std::vector<std::string> args, run::ConsoleHost::Options defaults = {}) {
        err.str({});
        args.insert(args.begin(), "CreateTableSeite");
        return run::runPageFromArgs(session, args, operations, err, false, std::move(defaults));
    }
    run::OperationTable operations;
    std::ostringstream err;
};

TEST_F(CreateBatch, EngineTargetAndTheReplaceQuestion) {
    const std::vector<std::string> args = {"NeuTabAlias=SRC",  "NeuTabBox=ORDERS",
                                           "NeuTab2Alias=DST", "NeuTabelleEdit=NEWORDERS.DB",
                                           "IndexesCheck=1",   "CopyAllRecsCheck=1"};
    ASSERT_EQ(batch(args), run::kBatchDone) << err.str();
    EXPECT_NE(err.str().find("Table create complete!"), std::string::npos) << err.str();
    EXPECT_EQ(readTable(session, dst() / "NEWORDERS.DB").records,
              (Records{{"1", "one"}, {"2", "two"}}));
    // The second run meets the new table: only --yes replaces it.
    EXPECT_EQ(batch(args), run::kBatchUnanswered) << err.str();
    EXPECT_NE(err.str().find("exists and will be replaced. Continue?"), std::string::npos);
    auto withYes = args;
    withYes.push_back("--yes");
    EXPECT_EQ(batch(withYes), run::kBatchDone) << err.str();
}

TEST_F(CreateBatch, OracleTargetLogsOnFromTheCommandLineAndEnvironment) {
    const std::vector<std::string> args = {"NeuTabAlias=SRC",  "NeuTabBox=ORDERS",
                                           "NeuTab2Alias=ORA", "NeuTabelleEdit=ORDERS.DB",
                                           "OracleCheck=1",    "CopyAllRecsCheck=1"};
    // Without a logon: the dialog has nothing to answer with.
    EXPECT_EQ(batch(args), run::kBatchFailed);
    EXPECT_NE(err.str().find("ORACLE Logon failed!"), std::string::npos) << err.str();
    // A password on the command line is refused before anything runs.
    auto withPassword = args;
    withPassword.insert(withPassword.end(), {"--oracle-logon", "SALES/s3cret@ORA"});
    EXPECT_EQ(batch(withPassword), run::kBatchUsage);

    ::setenv("FIELDSMITH_ORACLE_PASSWORD", "s3cret", 1);
    auto withLogon = args;
    withLogon.insert(withLogon.end(), {"--oracle-logon", "SALES@ORA"});
    ASSERT_EQ(batch(withLogon), run::kBatchDone) << err.str();
    EXPECT_NE(err.str().find("Table create complete!"), std::string::npos) << err.str();
    // The logon given before "run" reaches the run as well; the table now exists.
    run::ConsoleHost::Options defaults;
    defaults.oracleLogon = "SALES@ORA";
    auto withYes = args;
    withYes.push_back("--yes");
    EXPECT_EQ(batch(withYes, defaults), run::kBatchDone) << err.str();
    EXPECT_NE(err.str().find("Table SALES.ORDERS exists and will be replaced. Continue?"),
              std::string::npos)
        << err.str();
}

} // namespace
} // namespace fieldsmith::createtest
