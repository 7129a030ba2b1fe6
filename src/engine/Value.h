// A field value as the drivers decode it and encode it, before it becomes text.
#pragma once

#include <cstdint>
#include <string>

namespace fieldsmith::engine {

struct Value {
    enum class Kind { Null, Text, Int, Float, Bool, Date, Time, DateTime, Bytes };

    Kind kind = Kind::Null;
    std::int64_t i = 0; //!< Int, Bool (0/1), Date (day number, 0001-01-01 = 1), Time (ms of day)
    double f = 0;       //!< Float; DateTime as ms since 0000-12-31 00:00
    std::string s;      //!< Text (program code page) and Bytes

    static Value null() { return {}; }
    static Value text(std::string v) { return {Kind::Text, 0, 0, std::move(v)}; }
    static Value integer(std::int64_t v) { return {Kind::Int, v, 0, {}}; }
    static Value real(double v) { return {Kind::Float, 0, v, {}}; }
    static Value boolean(bool v) { return {Kind::Bool, v ? 1 : 0, 0, {}}; }
    static Value date(std::int64_t day) { return {Kind::Date, day, 0, {}}; }
    static Value time(std::int64_t ms) { return {Kind::Time, ms, 0, {}}; }
    static Value dateTime(double ms) { return {Kind::DateTime, 0, ms, {}}; }
    static Value bytes(std::string v) { return {Kind::Bytes, 0, 0, std::move(v)}; }

    bool isNull() const { return kind == Kind::Null; }
};

} // namespace fieldsmith::engine
