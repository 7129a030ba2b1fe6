// The key expression of an index tag ("NAME", "LAST+FIRST", "UPPER(CITY)", "DTOS(BORN)"):
// parsed against the table's fields, evaluated to the key bytes the tag stores, and read
// as a field list where it orders exactly like one.
#pragma once

#include "DBaseHeader.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fieldsmith::engine::dbase {

class TagExpression {
public:
    struct Node;

    //! Parses an expression; nullopt (with the reason in error) for anything this engine
    //! cannot evaluate: unknown fields or functions, mixed types, keys over 100 bytes.
    static std::optional<TagExpression>
    parse(const std::string& text, const std::vector<FieldDesc>& fields, std::string& error);
    TagExpression(TagExpression&&) noexcept;
    TagExpression& operator=(TagExpression&&) noexcept;
    ~TagExpression();

    //! 'C' character, 'N' numeric, 'D' date.
    char keyType() const { return keyType_; }
    //! Bytes of a key: the result's length for 'C', 12 for 'N', 8 for 'D'.
    int keyLength() const;
    //! The fields the expression reads.
    const std::vector<int>& referencedFields() const { return referenced_; }
    //! When records in the expression's order are also in the order of these fields' sort
    //! keys (plain fields joined by "+", all in UPPER() or none, DTOS() of a date), the
    //! fields and whether the order ignores case.
    bool asFieldList(std::vector<int>& fields, bool& caseInsensitive) const;

    //! The key a record has in the tag: its bytes as the index file stores them.
    std::string key(const std::uint8_t* record) const;
    //! Compares two keys of this expression in the tag's ascending order.
    int compareKeys(const std::string& a, const std::string& b) const;
    //! The value a numeric or date key stands for, in the order of the keys.
    long double keyValue(const std::string& key) const;

    //! Upper-case letters for UPPER(): ASCII, and the Latin-1 letters when the table's code
    //! page is 1252.
    void setUpperCaseMap(const std::array<std::uint8_t, 256>& map) { upper_ = map; }

private:
    TagExpression() = default;

    std::unique_ptr<Node> root_;
    char keyType_ = 'C';
    std::vector<int> referenced_;
    std::array<std::uint8_t, 256> upper_{};
};

//! The 12-byte numeric key of an index tag for a number written in decimal text
//! (" 12.50", "-3"); blank text is zero.
std::string numericKey(const std::string& decimalText);
//! The 8-byte date key: the Julian day as a little-endian double; day 0 (blank) is 0.0.
std::string dateKey(std::int64_t dayNumber);
//! Case map for UPPER() in a code page.
std::array<std::uint8_t, 256> upperCaseMap(int codePage);

} // namespace fieldsmith::engine::dbase
