#include "SecondaryIndex.h"

#include "../EngineError.h"
#include "../FileIo.h"
#include "ParadoxCodec.h"

#include <algorithm>
#include <cctype>

namespace fieldsmith::engine::paradox {

namespace {

bool isHex(char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'); }

// ".X02" and ".XG0": the data parts of secondary indexes.
bool isIndexDataExtension(const std::string& ext) {
    if (ext.size() != 4 || ext[0] != '.' || ext[1] != 'X') return false;
    if (ext[2] == 'G') return isHex(ext[3]);
    return std::isdigit(static_cast<unsigned char>(ext[2])) && isHex(ext[3]);
}

} // namespace

std::vector<SecondaryIndexFiles> findSecondaryIndexes(const std::filesystem::path& dbPath,
                                                      const Header& table,
                                                      const CodePageConverter& toProgram) {
    std::vector<SecondaryIndexFiles> found;
    const std::filesystem::path dir = dbPath.has_parent_path() ? dbPath.parent_path() : ".";
    const std::string stem = upperAscii(dbPath.stem().string());
    std::error_code ec;
    std::vector<std::filesystem::path> xFiles;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const auto& p = entry.path();
        if (upperAscii(p.stem().string()) != stem) continue;
        if (isIndexDataExtension(upperAscii(p.extension().string()))) xFiles.push_back(p);
    }
    std::sort(xFiles.begin(), xFiles.end(), [](const auto& a, const auto& b) {
        return upperAscii(a.extension().string()) < upperAscii(b.extension().string());
    });
    for (const auto& x : xFiles) {
        try {
            File f = File::open(x);
            const std::uint64_t size = f.size();
            std::vector<std::uint8_t> head(std::min<std::uint64_t>(size, 0x4000));
            f.readAt(0, head.data(), head.size());
            const Header xh = readDataHeader(x, head, size);
            const bool composite = xh.fileType == kXgMaintained || xh.fileType == kXgNonMaintained;
            if (!composite && xh.fileType != kXnnMaintained && xh.fileType != kXnnNonMaintained) continue;
            int m = 1;
            if (composite) {
                m = table.numKeyFields > 0 ? xh.numKeyFields - table.numKeyFields : xh.numKeyFields - 2;
                m = std::clamp(m, 1, static_cast<int>(xh.fields.size()));
            }
            std::vector<std::string> names;
            for (int i = 0; i < m; ++i) names.push_back(toProgram.convert(xh.fields[static_cast<std::size_t>(i)].name));
            SecondaryIndexFiles s;
            s.def.fields = joinFieldList(names);
            s.def.name = composite ? toProgram.convert(xh.indexName) : names.front();
            const int flags = xh.bytes[hdr::kIndexFlags];
            if (composite && (flags & 0x01)) s.def.options |= ixCaseInsensitive;
            if (flags & 0x10) s.def.options |= ixDescending;
            if (flags & 0x20) s.def.options |= ixUnique;
            if (xh.fileType == kXnnNonMaintained || xh.fileType == kXgNonMaintained)
                s.def.options |= ixNonMaintained;
            s.xFile = x;
            std::string yExt = x.extension().string();
            yExt[1] = yExt[1] == 'x' ? 'y' : 'Y';
            const auto y = findCompanion(x, upperAscii(yExt));
            if (y) s.yFile = *y;
            found.push_back(std::move(s));
        } catch (const EngineError&) {
            // A damaged index file does not keep the table from opening. It is listed under
            // its file name, so that it can be seen and dropped, and never orders a walk.
            SecondaryIndexFiles s;
            s.def.name = x.filename().string();
            s.def.options = ixDamaged | ixNonMaintained;
            s.xFile = x;
            std::string yExt = x.extension().string();
            if (yExt.size() > 1) yExt[1] = yExt[1] == 'x' ? 'y' : 'Y';
            if (const auto y = findCompanion(x, upperAscii(yExt))) s.yFile = *y;
            found.push_back(std::move(s));
        }
    }
    return found;
}

std::vector<IndexDef> readSecondaryIndexDefs(const std::filesystem::path& dbPath, const Header& table,
                                             const CodePageConverter& toProgram) {
    std::vector<IndexDef> defs;
    for (auto& s : findSecondaryIndexes(dbPath, table, toProgram)) defs.push_back(std::move(s.def));
    return defs;
}

} // namespace fieldsmith::engine::paradox
