// Typed values and column types that pass between the Oracle session, its datasets and a
// backend. Text inside the layer is UTF-8; the session converts at the program's boundary.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fieldsmith::oraclient {

enum class ValueKind { Null, Text, Integer, Float, Date, Bytes };

struct OracleValue {
    ValueKind kind = ValueKind::Null;
    std::string text;       //!< Text and Bytes
    std::int64_t whole = 0; //!< Integer; Date: milliseconds since the engine's day zero
    double real = 0;        //!< Float

    bool isNull() const { return kind == ValueKind::Null; }

    static OracleValue null() { return {}; }
    static OracleValue ofText(std::string text) { return {ValueKind::Text, std::move(text), 0, 0}; }
    static OracleValue ofBytes(std::string bytes) {
        return {ValueKind::Bytes, std::move(bytes), 0, 0};
    }
    static OracleValue ofInteger(std::int64_t v) { return {ValueKind::Integer, {}, v, 0}; }
    static OracleValue ofFloat(double v) { return {ValueKind::Float, {}, 0, v}; }
    static OracleValue ofDate(std::int64_t msSinceDayZero) {
        return {ValueKind::Date, {}, msSinceDayZero, 0};
    }
};

//! What a column holds, as far as reading and writing text is concerned.
enum class ColumnKind {
    Text,      //!< VARCHAR2, CHAR, NVARCHAR2, NCHAR
    LongText,  //!< CLOB, NCLOB, LONG
    Number,    //!< NUMBER, FLOAT and their synonyms
    Date,      //!< DATE (seconds)
    Timestamp, //!< TIMESTAMP (fractions of a second)
    Bytes,     //!< BLOB, RAW, LONG RAW
    RowId,     //!< the row identifier of a table row
    Unknown,   //!< an expression: the value's own kind decides
};

//! An Oracle column type as declared ("VARCHAR2(30)", "NUMBER(10,2)", "DATE").
struct OracleType {
    ColumnKind kind = ColumnKind::Unknown;
    std::string name;  //!< canonical Oracle spelling, upper case, no blanks
    int length = 0;    //!< maximum length of a text or RAW column; 0 for none
    int precision = 0; //!< NUMBER(p,s): p; 0 when not given
    int scale = -1;    //!< NUMBER(p,s): s; -1 when any scale is allowed
};

//! Parses an Oracle type ("varchar2 ( 30 byte )", "NUMBER(10,2)", "INTEGER", "LONG RAW")
//! into its canonical form. Without a value: not an Oracle type. Throws OracleError for
//! a known type with bad arguments (ORA-00906, ORA-00910, ORA-01727).
std::optional<OracleType> parseOracleType(std::string_view text);

//! The column's type as the layer reports it and the kind of its values.
struct ColumnInfo {
    std::string name;
    OracleType type;
};

} // namespace fieldsmith::oraclient
