// The schema of an ASCII text table: the .SCH file beside the .TXT that says whether the
// records are FIXED or VARYING, their character set and separators, and the fields.
#pragma once

#include "../FieldDef.h"

#include <filesystem>
#include <string>
#include <vector>

namespace fieldsmith::engine::text {

enum class TextType { Char, Float, Number, LongInt, Bool, Date, Time, Timestamp, Money };

struct TextField {
    std::string name;
    TextType type = TextType::Char;
    int width = 0;
    int decimals = 0;
    int offset = 0; //!< 0-based column of a FIXED record
};

struct TextSchema {
    std::string tableName;
    bool fixed = true;
    std::string charset;
    int codePage = 0; //!< of the character set; 0 = the program's
    char delimiter = '"';
    bool hasDelimiter = true;
    char separator = ',';
    std::vector<TextField> fields;
};

//! Reads a schema file. Errors name the file and the line.
TextSchema readSchema(const std::filesystem::path& path);

//! The schema text of a new FIXED table, lines ended by CR LF.
std::string schemaText(const TextSchema& schema);

//! The code page of a character-set name (ANSIINTL 1252, DB850DE0 850, ...); 0 if unknown.
int codePageOfCharset(const std::string& charset);
//! The character-set name new tables get for a code page.
std::string charsetFor(int codePage);

//! The engine's field type of a schema type.
FieldType fieldTypeOf(TextType type);
//! The schema type, width and decimals a field definition is stored with; throws naming the
//! field when a text table cannot hold it.
TextField textFieldFor(const FieldDef& def, const std::string& table);

} // namespace fieldsmith::engine::text
