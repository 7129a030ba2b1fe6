#include "CsvTestSupport.h"

#include "csv/CsvExchange.h"
#include "engine/Table.h"

#include <fstream>
#include <iterator>

namespace fieldsmith::csvtest {

std::filesystem::path writeFile(const TempDir& dir, const std::string& name,
                                const std::string& bytes) {
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TableContent readTable(engine::Session& session, const std::filesystem::path& tablePath) {
    engine::Table t(session);
    t.setDatabaseName("");
    t.setTableName(tablePath.string());
    t.open();
    TableContent content{t.fieldDefs(), {}};
    const auto n = t.recordCount();
    t.first();
    for (std::int64_t r = 0; r < n; ++r, t.next()) {
        std::vector<std::string> values;
        for (int i = 0; i < t.fieldCount(); ++i)
            values.push_back(t.field(i).asString());
        content.records.push_back(values);
    }
    return content;
}

std::vector<std::string> describeFields(const std::vector<engine::FieldDef>& fields) {
    std::vector<std::string> out;
    for (const auto& f : fields) {
        const char* type = f.type == engine::FieldType::ftString ? "string"
                           : f.type == engine::FieldType::ftMemo ? "memo"
                                                                 : "other";
        out.push_back(f.name + " " + type + " " + std::to_string(f.size));
    }
    return out;
}

void makeTable(engine::Session& session, const std::filesystem::path& tablePath,
               const std::vector<engine::FieldDef>& fields, const Records& records) {
    engine::Table t(session);
    t.setDatabaseName("");
    t.setTableName(tablePath.string());
    t.fieldDefs() = fields;
    t.createTable();
    t.open();
    for (const auto& record : records) {
        t.insert();
        for (std::size_t i = 0; i < record.size(); ++i)
            t.field(static_cast<int>(i)).setAsString(record[i]);
        t.post();
    }
    t.close();
}

CsvRun::CsvRun() {
    session.addStandardAlias("WORK", dir.path());
}

void CsvRun::run() {
    run::RunContext context{host, session, inputs, shared};
    csv::ExecuteCsvExchange(context);
}

void CsvRun::import(const std::filesystem::path& file, const std::string& target) {
    inputs.CSVMakeTable.CSVEdit = file.string();
    inputs.CSVMakeTable.CSVtoPdxEdit = (dir / target).string();
    run();
}

std::vector<std::string> CsvRun::errors() const {
    return host.textsOf(run::MessageKind::Error);
}

std::vector<std::string> CsvRun::questions() const {
    return host.textsOf(run::MessageKind::Confirmation);
}

} // namespace fieldsmith::csvtest
