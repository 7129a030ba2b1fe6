#include "create/OracleDdl.h"

#include "oraclient/OracleQuery.h"

#include <stdexcept>

namespace fieldsmith::create {

using engine::FieldType;

namespace {

constexpr std::string_view kPrimaryKeyPrefix = "KR4_PI_";
constexpr std::string_view kIndexPrefix = "KR4_I_";
constexpr std::size_t kMaxIndexColumns = 11;
//! The length of a Time column's text: "hh:nn:ss.zzz AM" and the like fit.
constexpr int kTimeTextLength = 20;

} // namespace

std::string NameWithoutExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

std::string MakeOracleColumnName(std::string_view fieldName) {
    static constexpr std::string_view kReserved[] = {
        "DATE", "USER", "TIME", "FROM", "TO", "COUNT", "POSITION", "LEFT", "LEVEL", "MODULE"};
    for (std::string_view word : kReserved)
        if (engine::sameName(fieldName, word))
            return std::string(word.substr(0, word.size() - 1)) + "_";
    std::string column(fieldName);
    for (char& c : column)
        if (c == '-') c = '_';
    return column;
}

std::string OracleTypeFor(FieldType type) {
    switch (type) {
    case FieldType::ftString:
    case FieldType::ftFixedChar:
    case FieldType::ftWideString:
    case FieldType::ftWord:
    case FieldType::ftCurrency:
    case FieldType::ftTime:
    case FieldType::ftUnknown:
        return "VARCHAR2";
    case FieldType::ftSmallint:
    case FieldType::ftInteger:
    case FieldType::ftLargeint:
    case FieldType::ftAutoInc:
    case FieldType::ftFloat:
    case FieldType::ftBoolean:
        return "FLOAT";
    case FieldType::ftDate:
    case FieldType::ftDateTime:
    case FieldType::ftTimeStamp:
        return "DATE";
    case FieldType::ftMemo:
    case FieldType::ftFmtMemo:
    case FieldType::ftBlob:
    case FieldType::ftGraphic:
        return "CLOB";
    default:
        return {};
    }
}

std::optional<OracleColumnType> oracleColumnTypeFor(const engine::FieldDef& field) {
    switch (field.type) {
    case FieldType::ftUnknown:
        return std::nullopt;
    case FieldType::ftWord:
    case FieldType::ftCurrency:
        return OracleColumnType{"FLOAT", {}};
    case FieldType::ftTime:
        return OracleColumnType{"VARCHAR2", "(" + std::to_string(kTimeTextLength) + ")"};
    case FieldType::ftBCD:
        return OracleColumnType{"NUMBER", {}};
    case FieldType::ftFmtMemo:
    case FieldType::ftBlob:
    case FieldType::ftGraphic:
    case FieldType::ftBytes:
    case FieldType::ftVarBytes:
    case FieldType::ftParadoxOle:
    case FieldType::ftDBaseOle:
    case FieldType::ftTypedBinary:
        return OracleColumnType{"BLOB", {}};
    default:
        break;
    }
    std::string type = OracleTypeFor(field.type);
    if (type.empty()) return std::nullopt;
    std::string length = type == "VARCHAR2" ? "(" + std::to_string(field.size) + ")" : "";
    return OracleColumnType{std::move(type), std::move(length)};
}

std::string primaryKeyColumns(const std::vector<engine::FieldDef>& fields) {
    std::string key;
    for (const engine::FieldDef& f : fields)
        if (f.required) key += (key.empty() ? "" : ", ") + MakeOracleColumnName(f.name);
    return key;
}

std::vector<std::string> createTableLines(const std::string& owner, const std::string& table,
                                          const std::vector<engine::FieldDef>& fields) {
    std::vector<std::string> lines{"CREATE TABLE " + owner + "." + table + " ( "};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const engine::FieldDef& f = fields[i];
        const auto type = oracleColumnTypeFor(f);
        if (!type)
            throw std::runtime_error("The field " + f.name + " of type " +
                                     std::string(engine::fieldTypeName(f.type)) +
                                     " has no Oracle column type.");
        if (i > 0) lines.emplace_back(" , ");
        const std::string column = MakeOracleColumnName(f.name);
        lines.push_back(column + " ");
        lines.push_back(type->type);
        if (!type->length.empty()) lines.push_back(type->length);
        lines.emplace_back(f.required ? " not null" : " null");
    }
    if (const std::string key = primaryKeyColumns(fields); !key.empty())
        lines.push_back(" constraint " + std::string(kPrimaryKeyPrefix) + table + " PRIMARY KEY (" +
                        key + ")");
    lines.emplace_back(" ) ");
    return lines;
}

std::string indexColumns(std::string_view indexFields) {
    std::string columns;
    std::size_t n = 0;
    // Pieces as the engine separates them; a single name is turned the same way.
    std::size_t start = 0;
    while (n < kMaxIndexColumns) {
        const auto semi = indexFields.find(';', start);
        const std::string_view name = indexFields.substr(
            start, semi == std::string_view::npos ? std::string_view::npos : semi - start);
        columns += (n ? ", " : "") + MakeOracleColumnName(name);
        ++n;
        if (semi == std::string_view::npos) break;
        start = semi + 1;
    }
    return columns;
}

std::string createIndexLine(const std::string& owner, const std::string& table, int j,
                            std::string_view indexFields) {
    return " CREATE INDEX " + std::string(kIndexPrefix) + table + "_" + std::to_string(j) + " on " +
           owner + "." + table + " (" + indexColumns(indexFields) + ")";
}

void executeStatement(oraclient::OracleSession& session, oraclient::OracleQuery& query,
                      const std::vector<std::string>& lines) {
    query.close();
    query.sql() = lines;
    query.open();
    session.commit();
    query.close();
}

void DropOracleTable(oraclient::OracleSession& session, const std::string& qualifiedName) {
    oraclient::OracleQuery query(session);
    executeStatement(session, query, {"DROP TABLE " + qualifiedName});
}

std::optional<bool> oracleTableExists(oraclient::OracleSession& session,
                                      const std::string& qualifiedName) {
    oraclient::OracleQuery query(session);
    query.sql() = {"SELECT 1 FROM " + qualifiedName + " WHERE 1 = 0"};
    try {
        query.open();
    } catch (const oraclient::OracleError& e) {
        if (e.code() == 942) return false;
        return std::nullopt;
    }
    query.close();
    return true;
}

} // namespace fieldsmith::create
