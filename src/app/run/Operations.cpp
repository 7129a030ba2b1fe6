#include "app/run/Operations.h"

namespace fieldsmith::run {

SharedState::SharedState(engine::Session& session)
    : TempTable(session), PrimTable(session), tSession(session.configDir()),
      OraLogon(tSession, session.configDir()) {
    TempTable.setDatabaseName("ARBEIT");
    PrimTable.setDatabaseName("KESTREL");
}

std::string operationForPage(std::string_view page, const PageInputs& inputs) {
    struct Entry {
        std::string_view page, operation;
    };
    static constexpr Entry kFixed[] = {
        {"Seite1", "executeMoveFelder"},        {"Seite2", "ExecuteFeldReplaceComplete"},
        {"Seite3", "SuchenErsetzenSubStrings"}, {"Seite4", "ExecuteMergeFelder"},
        {"Seite5", "ProcessAddPrimary"},        {"Seite6", "ExecutePreisFeldFormatieren"},
        {"DelPage", "executeDeleteRecs"},       {"Seite7", "NeuValueIF"},
        {"CSVMakeTable", "ExecuteCsvExchange"}, {"CreateTableSeite", "ExecuteCreateTable"},
    };
    for (const auto& e : kFixed)
        if (e.page == page) return std::string(e.operation);
    if (page == "ExportSeite") {
        if (inputs.ExportSeite.ExportSelect) return "ExportOracleInserts";
        if (inputs.ExportSeite.ImportSelect) return "ImportOracleScript";
    }
    return {}; // AnsichtTabelle and anything unknown: Run does nothing
}

void OperationTable::add(std::string name, Operation operation) {
    operations_[std::move(name)] = std::move(operation);
}

const Operation* OperationTable::find(std::string_view name) const {
    auto it = operations_.find(name);
    return it == operations_.end() ? nullptr : &it->second;
}

std::vector<std::string> OperationTable::names() const {
    std::vector<std::string> names;
    for (const auto& entry : operations_) names.push_back(entry.first);
    return names;
}

OperationTable builtInOperations() {
    // The field, key, CSV, table and Oracle operations register here as they are built.
    return {};
}

} // namespace fieldsmith::run
