// Inside the Table: the order a table is walked in and the small helpers that the table's
// source files share. Not for use outside the engine's Table.
#pragma once

#include "FieldDef.h"
#include "Table.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fieldsmith::engine {

// The order a table is walked in: the driver's primary order, or an in-memory sorted
// list of sort keys for any other index.
struct Table::Order {
    int indexPos = -1;       //!< position in indexDefs_, -1 for the storage order
    bool primary = true;     //!< served by the driver's primary order
    std::vector<int> fields; //!< field positions of the index
    unsigned options = 0;
    //! Secondary orders: sort key of the index fields followed by the record's ordinal in
    //! primary order (8 bytes, big-endian), sorted.
    std::vector<std::string> entries;
    bool stale = true;
};

namespace detail {

inline bool isIntegerType(FieldType t) {
    return t == FieldType::ftSmallint || t == FieldType::ftInteger || t == FieldType::ftWord ||
           t == FieldType::ftAutoInc || t == FieldType::ftLargeint;
}

inline bool isFloatType(FieldType t) {
    return t == FieldType::ftFloat || t == FieldType::ftCurrency || t == FieldType::ftBCD;
}

inline void appendOrdinal(std::string& key, std::int64_t ordinal) {
    for (int shift = 56; shift >= 0; shift -= 8)
        key += static_cast<char>((static_cast<std::uint64_t>(ordinal) >> shift) & 0xFF);
}

inline std::int64_t ordinalFromEntry(const std::string& entry) {
    std::uint64_t v = 0;
    for (std::size_t i = entry.size() - 8; i < entry.size(); ++i)
        v = (v << 8) | static_cast<unsigned char>(entry[i]);
    return static_cast<std::int64_t>(v);
}

} // namespace detail

} // namespace fieldsmith::engine
