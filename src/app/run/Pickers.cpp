#include "app/run/Pickers.h"

#include "engine/Session.h"
#include "engine/Table.h"

namespace fieldsmith::run {

std::string GetAliasPath(const engine::Session& session, const std::string& aliasName) {
    // The engine's database names are at most 31 characters long.
    const std::string name = aliasName.substr(0, 31);
    const engine::DatabaseDesc desc = session.databaseDesc(name);
    if (engine::sameName(desc.type, "STANDARD")) return desc.path;
    for (const auto& [key, value] : session.aliasParams(name))
        if (engine::sameName(key, "SERVER NAME")) return value;
    return {};
}

std::vector<std::string> tableFieldNames(engine::Session& session, const std::string& alias,
                                         const std::string& table) {
    engine::Table t(session); // closed and freed on every way out
    t.setDatabaseName(alias);
    t.setTableName(table);
    t.open();
    std::vector<std::string> names;
    names.reserve(t.fieldCount());
    for (int i = 0; i < t.fieldCount(); ++i)
        names.push_back(t.field(i).name());
    t.close();
    return names;
}

std::vector<std::string> indexFieldLists(engine::Table& table) {
    table.updateIndexDefs();
    std::vector<std::string> lists;
    for (const engine::IndexDef& def : table.indexDefs())
        lists.push_back(def.fields);
    return lists;
}

} // namespace fieldsmith::run
