// The configuration a newcomer finds on first start: demo aliases with counter tables,
// sample tables worth cleaning and a CSV file, so that every page works at once.
#pragma once

#include <filesystem>

namespace fieldsmith::demo {

//! Creates the configuration in dir when it has no aliases.ini yet: aliases.ini,
//! fieldsmith.ini, the alias KESTREL with the sixteen counter tables and the alias ARBEIT
//! with sample tables and a CSV file. Returns true when it created anything.
bool ensureDemoConfiguration(const std::filesystem::path& dir);

} // namespace fieldsmith::demo
