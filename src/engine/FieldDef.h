// Field and index definitions of a table: what a table has, and what a new table gets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::engine {

//! The engine's field types, named as the classic database engine named them.
enum class FieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftTimeStamp,
};

std::string_view fieldTypeName(FieldType type);
//! Memo, formatted memo, blob, graphic and OLE fields: values kept outside the record.
bool isBlobType(FieldType type);
//! Memo and formatted memo: blobs whose value is text.
bool isTextBlobType(FieldType type);
//! String, fixed and wide string: text kept in the record, cut to the field's size.
bool isStringType(FieldType type);

struct FieldDef {
    std::string name;
    FieldType type = FieldType::ftString;
    int size = 0; //!< string length, blob leader size, BCD decimals; 0 where the type fixes it
    bool required = false;
};

enum IndexOption : unsigned {
    ixPrimary = 1u << 0,
    ixUnique = 1u << 1,
    ixDescending = 1u << 2,
    ixCaseInsensitive = 1u << 3,
    ixExpression = 1u << 4,
    ixNonMaintained = 1u << 5, //!< kept by the files' writer only on demand
    ixDamaged = 1u << 6,       //!< its file cannot be read: listed (to be dropped), never used
};

struct IndexDef {
    std::string name;   //!< empty for a Paradox primary index
    std::string fields; //!< field names joined by ";"
    unsigned options = 0;

    bool isPrimary() const { return options & ixPrimary; }
    std::vector<std::string> fieldList() const;
};

//! "A;B" → {"A", "B"}; blanks around names are kept, empty pieces dropped.
std::vector<std::string> splitFieldList(std::string_view fields);
std::string joinFieldList(const std::vector<std::string>& names);
//! The index options as words, as `describe` shows them ("primary, case-insensitive").
std::string indexOptionsText(unsigned options);

//! Case-insensitive comparison of ASCII names, as the engine compares field and file names.
bool sameName(std::string_view a, std::string_view b);
//! The name with its ASCII letters in upper case.
std::string upperAscii(std::string_view name);

} // namespace fieldsmith::engine
