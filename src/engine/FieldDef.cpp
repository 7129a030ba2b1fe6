#include "FieldDef.h"

#include <cctype>

namespace fieldsmith::engine {

std::string_view fieldTypeName(FieldType type) {
    switch (type) {
    case FieldType::ftUnknown: return "ftUnknown";
    case FieldType::ftString: return "ftString";
    case FieldType::ftSmallint: return "ftSmallint";
    case FieldType::ftInteger: return "ftInteger";
    case FieldType::ftWord: return "ftWord";
    case FieldType::ftBoolean: return "ftBoolean";
    case FieldType::ftFloat: return "ftFloat";
    case FieldType::ftCurrency: return "ftCurrency";
    case FieldType::ftBCD: return "ftBCD";
    case FieldType::ftDate: return "ftDate";
    case FieldType::ftTime: return "ftTime";
    case FieldType::ftDateTime: return "ftDateTime";
    case FieldType::ftBytes: return "ftBytes";
    case FieldType::ftVarBytes: return "ftVarBytes";
    case FieldType::ftAutoInc: return "ftAutoInc";
    case FieldType::ftBlob: return "ftBlob";
    case FieldType::ftMemo: return "ftMemo";
    case FieldType::ftGraphic: return "ftGraphic";
    case FieldType::ftFmtMemo: return "ftFmtMemo";
    case FieldType::ftParadoxOle: return "ftParadoxOle";
    case FieldType::ftDBaseOle: return "ftDBaseOle";
    case FieldType::ftTypedBinary: return "ftTypedBinary";
    case FieldType::ftFixedChar: return "ftFixedChar";
    case FieldType::ftWideString: return "ftWideString";
    case FieldType::ftLargeint: return "ftLargeint";
    case FieldType::ftTimeStamp: return "ftTimeStamp";
    }
    return "ftUnknown";
}

bool isBlobType(FieldType type) {
    switch (type) {
    case FieldType::ftBlob:
    case FieldType::ftMemo:
    case FieldType::ftGraphic:
    case FieldType::ftFmtMemo:
    case FieldType::ftParadoxOle:
    case FieldType::ftDBaseOle:
    case FieldType::ftTypedBinary: return true;
    default: return false;
    }
}

bool isStringType(FieldType type) {
    return type == FieldType::ftString || type == FieldType::ftFixedChar ||
           type == FieldType::ftWideString;
}

bool isTextBlobType(FieldType type) {
    return type == FieldType::ftMemo || type == FieldType::ftFmtMemo;
}

std::vector<std::string> IndexDef::fieldList() const { return splitFieldList(fields); }

std::vector<std::string> splitFieldList(std::string_view fields) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= fields.size()) {
        std::size_t end = fields.find(';', start);
        if (end == std::string_view::npos) end = fields.size();
        if (end > start) names.emplace_back(fields.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::string joinFieldList(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) {
        if (!out.empty()) out += ';';
        out += n;
    }
    return out;
}

std::string indexOptionsText(unsigned options) {
    std::string out;
    auto add = [&](unsigned bit, const char* word) {
        if (!(options & bit)) return;
        if (!out.empty()) out += ", ";
        out += word;
    };
    add(ixPrimary, "primary");
    add(ixUnique, "unique");
    add(ixDescending, "descending");
    add(ixCaseInsensitive, "case-insensitive");
    add(ixExpression, "expression");
    add(ixNonMaintained, "non-maintained");
    add(ixDamaged, "damaged");
    return out;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string upperAscii(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

} // namespace fieldsmith::engine
