#include "CreateTestSupport.h"

#include "create/CreateTable.h"
#include "engine/Table.h"
#include "oraclient/EmbeddedUsers.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleQuery.h"

namespace fieldsmith::createtest {

namespace fsys = std::filesystem;

TableContent readTable(engine::Session& session, const fsys::path& tablePath) {
    engine::Table t(session);
    t.setTableName(tablePath.string());
    t.setTableType(create::tableTypeByName(tablePath.filename().string()));
    t.open();
    TableContent c;
    c.fields = t.fieldDefs();
    t.updateIndexDefs();
    c.indexes = t.indexDefs();
    for (t.first(); !t.eof(); t.next()) {
        std::vector<std::string> row;
        for (int i = 0; i < t.fieldCount(); ++i)
            row.push_back(t.field(i).asString());
        c.records.push_back(std::move(row));
    }
    return c;
}

void makeTable(engine::Session& session, const fsys::path& tablePath,
               const std::vector<engine::FieldDef>& fields, const Records& records,
               const std::vector<engine::IndexDef>& indexes) {
    engine::Table t(session);
    t.setTableName(tablePath.string());
    t.setTableType(create::tableTypeByName(tablePath.filename().string()));
    t.fieldDefs() = fields;
    t.indexDefs() = indexes;
    t.createTable();
    t.open();
    for (const auto& r : records) {
        t.insert();
        for (std::size_t i = 0; i < r.size(); ++i)
            t.field(static_cast<int>(i)).setAsString(r[i]);
        t.post();
    }
    t.close();
}

fsys::path sharedParadoxDir() {
    const fsys::path dir = fsys::path(FIELDSMITH_TESTDATA) / "paradox";
    std::error_code ec;
    return fsys::is_directory(dir, ec) ? dir : fsys::path();
}

CreateRun::CreateRun() : session(dir.path()), shared(session) {
    fsys::create_directories(src());
    fsys::create_directories(dst());
    session.addStandardAlias("SRC", src());
    session.addStandardAlias("DST", dst());
    session.addAlias("ORA", {{"TYPE", "ORACLE"}, {"SERVER NAME", "ORA"}});
    session.formats().shortDateFormat = "yyyy-mm-dd";
    session.formats().longTimeFormat = "hh:nn:ss";
    session.formats().decimalSeparator = '.';
    const auto entry = oraclient::ensureEmbeddedDatabase(dir.path(), "ORA");
    oraclient::EmbeddedUsers users(entry.path);
    users.add("SALES", "s3cret");
}

Records rowsOf(oraclient::OracleQuery& q) {
    Records rows;
    for (q.first(); !q.eof(); q.next()) {
        std::vector<std::string> row;
        for (int i = 0; i < q.fieldCount(); ++i)
            row.push_back(q.fieldText(i));
        rows.push_back(row);
    }
    return rows;
}

fsys::path CreateRun::salesSchema() const {
    return oraclient::EmbeddedUsers(dir.path() / "oracle" / "ORA").schemaFile("SALES");
}

void CreateRun::run() {
    run::RunContext context{host, session, inputs, shared};
    create::ExecuteCreateTable(context);
}

void CreateRun::aim(const std::string& source, const std::string& newTable,
                    const std::string& targetAlias) {
    auto& in = inputs.CreateTableSeite;
    in.NeuTabAlias = "SRC";
    in.NeuTabBox = source;
    in.NeuTab2Alias = targetAlias;
    in.NeuTabelleEdit = newTable;
    in.OracleCheck = engine::sameName(targetAlias, "ORA");
}

void CreateRun::answerLogon(const std::string& password) {
    host.logonAnswers.push_back(run::TestHost::LogonAnswer{"SALES", password, "ORA"});
}

} // namespace fieldsmith::createtest
