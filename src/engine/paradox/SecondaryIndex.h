// Secondary indexes of a Paradox table (.Xnn/.Ynn for one field, .XGn/.YGn for composite,
// named or case-insensitive ones): their definitions as the files hold them.
#pragma once

#include "../CodePage.h"
#include "../FieldDef.h"
#include "ParadoxHeader.h"

#include <filesystem>
#include <vector>

namespace fieldsmith::engine::paradox {

//! One secondary index found beside a table: its definition and its two files.
struct SecondaryIndexFiles {
    IndexDef def;
    std::filesystem::path xFile;
    std::filesystem::path yFile; //!< empty when missing
};

//! The secondary indexes beside a table, in file-name order. Index files that cannot be
//! read are skipped: they do not stop the table from opening.
std::vector<SecondaryIndexFiles> findSecondaryIndexes(const std::filesystem::path& dbPath,
                                                      const Header& table,
                                                      const CodePageConverter& toProgram);

std::vector<IndexDef> readSecondaryIndexDefs(const std::filesystem::path& dbPath, const Header& table,
                                             const CodePageConverter& toProgram);

} // namespace fieldsmith::engine::paradox
