#include "AppTestSupport.h"

#include "engine/Session.h"
#include "engine/Table.h"


namespace fieldsmith::apptest {

void makeTable(engine::Session& session, const std::string& alias, const std::string& name,
               const std::vector<std::string>& fields,
               const std::vector<std::vector<std::string>>& rows, int keyFields) {
    engine::Table t(session);
    t.setDatabaseName(alias);
    t.setTableName(name);
    for (const auto& f : fields)
        t.fieldDefs().push_back({f, engine::FieldType::ftString, 20, false});
    if (keyFields > 0) {
        std::vector<std::string> key(fields.begin(), fields.begin() + keyFields);
        t.indexDefs().push_back({"", engine::joinFieldList(key), engine::ixPrimary});
    }
    t.createTable();
    t.open();
    for (const auto& row : rows) {
        t.insert();
        for (std::size_t i = 0; i < row.size(); ++i)
            t.fieldByName(fields[i]).setAsString(row[i]);
        t.post();
    }
    t.close();
}

std::vector<std::string> column(engine::Session& session, const std::string& alias,
                                const std::string& name, const std::string& field) {
    engine::Table t(session);
    t.setDatabaseName(alias);
    t.setTableName(name);
    t.open();
    std::vector<std::string> values;
    for (t.first(); !t.eof(); t.next()) {
        values.push_back(t.fieldByName(field).asString());
        if (static_cast<std::int64_t>(values.size()) >= t.recordCount()) break;
    }
    return values;
}

} // namespace fieldsmith::apptest
