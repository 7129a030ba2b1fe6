#include "DBaseDriver.h"

#include "../EngineError.h"
#include "../FileIo.h"
#include "../Session.h"
#include "DBaseHeader.h"
#include "DBaseTable.h"
#include "MemoFile.h"

#include <algorithm>

namespace fieldsmith::engine::dbase {

namespace fsys = std::filesystem;

namespace {

// Deletes the files of an older table of this name: the table, its memo file and its
// production index, found without regard to the case of the name.
void deleteFamily(const fsys::path& dbf) {
    const fsys::path dir = dbf.has_parent_path() ? dbf.parent_path() : ".";
    const std::string stem = upperAscii(dbf.stem().string());
    std::error_code ec;
    std::vector<fsys::path> doomed;
    for (const auto& entry : fsys::directory_iterator(dir, ec)) {
        const fsys::path& p = entry.path();
        if (upperAscii(p.stem().string()) != stem) continue;
        const std::string ext = upperAscii(p.extension().string());
        if (ext == ".DBF" || ext == ".DBT" || ext == ".MDX") doomed.push_back(p);
    }
    for (const auto& p : doomed) {
        fsys::remove(p, ec);
        if (ec)
            throw EngineError(ErrorKind::Database,
                              "Cannot delete " + p.string() + ": " + ec.message());
    }
}

} // namespace

std::unique_ptr<TableDriver> openDBaseTable(const OpenRequest& request) {
    return std::make_unique<DBaseTable>(request);
}

void createDBaseTable(const fsys::path& path, const std::vector<FieldDef>& fields,
                      const std::vector<IndexDef>& indexes, const Session& session) {
    const std::string table = path.filename().string();
    if (fields.empty()) throw EngineError("Table " + table + " needs at least one field");
    if (fields.size() > 255) throw EngineError("A dBase table has at most 255 fields: " + table);
    std::vector<NewField> descs;
    int recordLength = 1;
    bool withMemo = false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j)
            if (sameName(fields[j].name, fields[i].name))
                throw EngineError("Field name " + fields[i].name + " occurs twice in table " +
                                  table);
        descs.push_back(newFieldFor(fields[i], table));
        recordLength += descs.back().length;
        withMemo = withMemo || descs.back().type == 'M' || descs.back().type == 'B' ||
                   descs.back().type == 'G';
    }
    if (recordLength > 4000)
        throw EngineError("Records of dBase table " + table + " are too long (" +
                          std::to_string(recordLength) + " bytes, at most 4000)");
    for (const auto& ix : indexes)
        if (ix.isPrimary())
            throw EngineError("dBase tables have no primary index: table " + table +
                              " cannot be created with one");

    // Refuse while another open holds the old table.
    File old;
    if (const auto existing = findCompanion(path, path.extension().string())) {
        old = File::open(*existing);
        if (!old.tryLock(true))
            throw EngineError(ErrorKind::Database,
                              "Table " + existing->string() + " is in use by someone else");
    }
    deleteFamily(path);
    old.close();

    const int configured = session.dBaseLanguageDriver();
    const std::uint8_t ld = configured >= 0 ? static_cast<std::uint8_t>(configured)
                                            : languageDriverFor(session.ansiCodePage());
    std::vector<std::uint8_t> bytes = buildHeader(descs, withMemo, ld);
    bytes.push_back(kEndOfFile);
    if (withMemo) MemoFile::createDBase4(companionPath(path, ".DBT"), path.stem().string());
    {
        File f = File::create(path);
        f.writeAt(0, bytes.data(), bytes.size());
        f.sync();
    }
    for (const auto& ix : indexes)
        addDBaseIndex(path, ix.name, ix.fields, ix.options, session);
}

void addDBaseIndex(const fsys::path& path, const std::string& name, const std::string& fields,
                   unsigned options, const Session& session) {
    OpenRequest request{path, true, &session};
    DBaseTable table(request);
    table.addTag(name, fields, options);
    table.close();
}

} // namespace fieldsmith::engine::dbase
