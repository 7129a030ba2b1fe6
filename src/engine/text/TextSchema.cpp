#include "TextSchema.h"

#include "../EngineError.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace fieldsmith::engine::text {

namespace {

std::string trim(std::string_view s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
        --b;
    return std::string(s.substr(a, b - a));
}

struct TypeName {
    const char* name;
    TextType type;
};
constexpr TypeName kTypeNames[] = {
    {"CHAR", TextType::Char},    {"FLOAT", TextType::Float},     {"NUMBER", TextType::Number},
    {"SHORT", TextType::Number}, {"LONGINT", TextType::LongInt}, {"BOOL", TextType::Bool},
    {"DATE", TextType::Date},    {"TIME", TextType::Time},       {"TIMESTAMP", TextType::Timestamp},
    {"MONEY", TextType::Money},
};

// A separator or delimiter as the schema gives it: the one character after "=", or the
// first non-blank one, or a "#nnn" character code; empty means none.
bool readCharacter(const std::string& raw, char& out) {
    std::string v = raw;
    if (v.size() != 1) v = trim(raw);
    if (v.empty()) return false;
    if (v.size() > 1 && v[0] == '#' && std::all_of(v.begin() + 1, v.end(), ::isdigit)) {
        out = static_cast<char>(std::stoi(v.substr(1)) & 0xFF);
        return true;
    }
    out = v[0];
    return true;
}

} // namespace

TextSchema readSchema(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw EngineError(ErrorKind::Database, "Cannot read the schema file " + path.string());
    auto fail = [&](int line, const std::string& why) {
        return EngineError(ErrorKind::Damaged, "Schema file " + path.string() + ", line " +
                                                   std::to_string(line) + ": " + why);
    };
    TextSchema s;
    std::map<int, TextField> fields;
    bool haveType = false, haveSection = false;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number > 10000) throw fail(number, "too many lines for a schema");
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string t = trim(line);
        if (t.empty() || t[0] == ';') continue;
        if (t[0] == '[') {
            if (t.back() != ']') throw fail(number, "the section name has no closing ']'");
            s.tableName = trim(t.substr(1, t.size() - 2));
            haveSection = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) throw fail(number, "'" + t + "' is no 'key = value' entry");
        const std::string key = upperAscii(trim(line.substr(0, eq)));
        const std::string rawValue = line.substr(eq + 1);
        const std::string value = trim(rawValue);
        if (key == "FILETYPE") {
            const std::string v = upperAscii(value);
            if (v != "FIXED" && v != "VARYING")
                throw fail(number, "FILETYPE must be FIXED or VARYING, not " + value);
            s.fixed = v == "FIXED";
            haveType = true;
        } else if (key == "CHARSET") {
            s.charset = value;
            s.codePage = codePageOfCharset(value);
        } else if (key == "DELIMITER") {
            s.hasDelimiter = readCharacter(rawValue, s.delimiter);
        } else if (key == "SEPARATOR") {
            if (!readCharacter(rawValue, s.separator)) throw fail(number, "the separator is empty");
        } else if (key.rfind("FIELD", 0) == 0 && key.size() > 5 &&
                   std::all_of(key.begin() + 5, key.end(), ::isdigit)) {
            if (key.size() > 9)
                throw fail(number, "field number " + key.substr(5) + " is too large");
            const int n = std::stoi(key.substr(5));
            std::vector<std::string> parts;
            std::stringstream ss(rawValue);
            for (std::string part; std::getline(ss, part, ',');)
                parts.push_back(trim(part));
            if (parts.size() != 5)
                throw fail(number,
                           "a field entry has the five parts name,type,width,decimals,offset");
            TextField f;
            f.name = parts[0];
            if (f.name.empty()) throw fail(number, "a field has no name");
            const std::string type = upperAscii(parts[1]);
            bool known = false;
            for (const auto& tn : kTypeNames)
                if (type == tn.name) {
                    f.type = tn.type;
                    known = true;
                }
            if (!known) throw fail(number, "unknown field type " + parts[1]);
            int* targets[3] = {&f.width, &f.decimals, &f.offset};
            for (int k = 0; k < 3; ++k) {
                const std::string& p = parts[static_cast<std::size_t>(k) + 2];
                if (p.empty() || p.size() > 5 || !std::all_of(p.begin(), p.end(), ::isdigit))
                    throw fail(number, "'" + p + "' is not a number");
                *targets[k] = std::stoi(p);
            }
            if (f.width < 1) throw fail(number, "field " + f.name + " has no width");
            if (fields.count(n))
                throw fail(number, "Field" + std::to_string(n) + " is given twice");
            fields[n] = f;
        }
        // Other keys are left alone.
    }
    if (!haveSection) throw fail(1, "the first line names the table in [brackets]");
    if (!haveType) throw fail(number, "FILETYPE is missing");
    if (fields.empty()) throw fail(number, "no fields");
    int expected = 1;
    for (auto& [n, f] : fields) {
        if (n != expected) throw fail(number, "Field" + std::to_string(expected) + " is missing");
        ++expected;
        s.fields.push_back(f);
    }
    if (!s.fixed && (s.separator == '\r' || s.separator == '\n'))
        throw fail(number, "the separator cannot be a line end");
    return s;
}

std::string schemaText(const TextSchema& s) {
    std::string out = "[" + s.tableName + "]\r\n";
    out += std::string("FILETYPE=") + (s.fixed ? "FIXED" : "VARYING") + "\r\n";
    out += "CHARSET=" + s.charset + "\r\n";
    if (!s.fixed) {
        out += std::string("DELIMITER=") + (s.hasDelimiter ? std::string(1, s.delimiter) : "") +
               "\r\n";
        out += std::string("SEPARATOR=") + s.separator + "\r\n";
    }
    for (std::size_t i = 0; i < s.fields.size(); ++i) {
        const TextField& f = s.fields[i];
        const char* type = "CHAR";
        for (const auto& tn : kTypeNames)
            if (tn.type == f.type && std::string(tn.name) != "SHORT") {
                type = tn.name;
                break;
            }
        char buf[64];
        std::snprintf(buf, sizeof buf, ",%s,%02d,%02d,%02d", type, f.width, f.decimals, f.offset);
        out += "Field" + std::to_string(i + 1) + "=" + f.name + buf + "\r\n";
    }
    return out;
}

int codePageOfCharset(const std::string& charset) {
    const std::string u = upperAscii(charset);
    if (u == "ANSIINTL" || u == "ANSII850" || u.rfind("DBWIN", 0) == 0) return 1252;
    if (u == "ASCII" || u == "INTL") return 437;
    if (u == "INTL850") return 850;
    // dBase drivers carry their code page in their name: DB437US0, DB850DE0, DB866RU0.
    if (u.size() >= 5 && u.rfind("DB", 0) == 0 && std::isdigit(static_cast<unsigned char>(u[2])) &&
        std::isdigit(static_cast<unsigned char>(u[3])) &&
        std::isdigit(static_cast<unsigned char>(u[4])))
        return std::stoi(u.substr(2, 3));
    return 0;
}

std::string charsetFor(int codePage) {
    if (codePage == 1252) return "ANSIINTL";
    if (codePage == 850) return "DB850DE0";
    if (codePage == 437) return "DB437US0";
    if (codePage > 0 && codePage < 1000) return "DB" + std::to_string(codePage) + "US0";
    return "ascii";
}

FieldType fieldTypeOf(TextType type) {
    switch (type) {
    case TextType::Char:
        return FieldType::ftString;
    case TextType::Float:
        return FieldType::ftFloat;
    case TextType::Money:
        return FieldType::ftCurrency;
    case TextType::Number:
        return FieldType::ftSmallint;
    case TextType::LongInt:
        return FieldType::ftInteger;
    case TextType::Bool:
        return FieldType::ftBoolean;
    case TextType::Date:
        return FieldType::ftDate;
    case TextType::Time:
        return FieldType::ftTime;
    case TextType::Timestamp:
        return FieldType::ftDateTime;
    }
    return FieldType::ftString;
}

TextField textFieldFor(const FieldDef& def, const std::string& table) {
    auto bad = [&](const std::string& why) -> TextField {
        throw EngineError(ErrorKind::General,
                          "Invalid field " + def.name + " for text table " + table + ": " + why);
    };
    if (def.name.empty() || def.name.find(',') != std::string::npos)
        return bad("a field name of a text table is not empty and has no comma");
    TextField f;
    f.name = def.name;
    switch (def.type) {
    case FieldType::ftString:
    case FieldType::ftFixedChar:
    case FieldType::ftWideString:
        if (def.size < 1 || def.size > 255)
            return bad("character size " + std::to_string(def.size));
        f.type = TextType::Char;
        f.width = def.size;
        break;
    case FieldType::ftSmallint:
        f.type = TextType::Number;
        f.width = 6;
        break;
    case FieldType::ftInteger:
    case FieldType::ftWord:
    case FieldType::ftAutoInc:
        f.type = TextType::LongInt;
        f.width = 11;
        break;
    case FieldType::ftFloat:
    case FieldType::ftCurrency:
    case FieldType::ftBCD:
        f.type = def.type == FieldType::ftCurrency ? TextType::Money : TextType::Float;
        f.width = 20;
        f.decimals =
            def.size > 0 && def.size <= 15 ? def.size : (def.type == FieldType::ftCurrency ? 2 : 4);
        break;
    case FieldType::ftBoolean:
        f.type = TextType::Bool;
        f.width = 1;
        break;
    case FieldType::ftDate:
        f.type = TextType::Date;
        f.width = 10;
        break;
    case FieldType::ftTime:
        f.type = TextType::Time;
        f.width = 8;
        break;
    case FieldType::ftDateTime:
    case FieldType::ftTimeStamp:
        f.type = TextType::Timestamp;
        f.width = 19;
        break;
    default:
        return bad("text tables cannot hold fields of type " +
                   std::string(fieldTypeName(def.type)));
    }
    return f;
}

} // namespace fieldsmith::engine::text
