// The configuration a newcomer finds on first start: demo aliases with counter tables,
// sample tables worth cleaning and a CSV file, so that every page works at once.
#pragma once

#include <filesystem>

namespace fieldsmith::demo {

//! Creates the configuration in dir when it has no aliases.ini yet: aliases.ini,
//! fieldsmith.ini, the alias KESTREL with the sixteen counter tables and the alias ARBEIT
//! with sample tables and a CSV file, the server alias KR4 naming the Oracle database KR4
//! (see ensureDemoOracleDatabase). Returns true when it created anything.
bool ensureDemoConfiguration(const std::filesystem::path& dir);

//! Creates the demo's Oracle database KR4 (user KR4, password KR4, a sample table KUNDEN)
//! when dir has no oracle.ini yet; never replaces a file. Returns true when KR4 exists
//! as the demo made it.
bool ensureDemoOracleDatabase(const std::filesystem::path& dir);

} // namespace fieldsmith::demo
