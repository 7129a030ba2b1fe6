// The counter tables of the product database: for each key name a table in the alias
// KESTREL whose first record holds the last number handed out.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace fieldsmith::engine {
class Table;
}
namespace fieldsmith::run {
class RunHost;
}

namespace fieldsmith::ops {

//! The sixteen key names of the pick list, in its order.
const std::array<std::string, 16>& keyNames();

struct CounterNames {
    std::string table; //!< key name in upper case + "MAX.DB"
    std::string field; //!< key name + "MAX", or the irregular name of that table
};

CounterNames counterNamesFor(std::string_view keyName);

//! Opens the counter table of a key name in PrimTable exclusively, asking to try again
//! while the engine refuses; Cancel passes the engine's error on.
void openCounterTable(run::RunHost& host, engine::Table& primTable, std::string_view keyName);

//! Draws the next number: the counter of the current record plus one, posted at once.
std::int64_t GetNewNumber(engine::Table& primTable, std::string_view keyName);

//! Clears the exclusive flag and closes.
void closeCounterTable(engine::Table& primTable);

} // namespace fieldsmith::ops
