#include "ParadoxDriver.h"

#include "../CodePage.h"
#include "../EngineError.h"
#include "../Session.h"
#include "BlobFile.h"
#include "../FileIo.h"
#include "ParadoxCodec.h"
#include "ParadoxCrypt.h"
#include "ParadoxHeader.h"
#include "ParadoxTable.h"
#include "PrimaryIndex.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

namespace fieldsmith::engine::paradox {

namespace fsys = std::filesystem;

namespace {

// The Paradox type code and descriptor size for a field definition.
FieldDesc descriptorFor(const FieldDef& def, const std::string& table) {
    auto bad = [&](const std::string& why) {
        throw EngineError(ErrorKind::General, "Invalid field " + def.name + " for table " + table + ": " + why);
    };
    FieldDesc d;
    switch (def.type) {
    case FieldType::ftString:
    case FieldType::ftFixedChar:
    case FieldType::ftWideString:
        if (def.size < 1 || def.size > 255) bad("string size " + std::to_string(def.size));
        d.code = kAlpha;
        d.size = static_cast<std::uint8_t>(def.size);
        break;
    case FieldType::ftSmallint: d.code = kShort; d.size = 2; break;
    case FieldType::ftInteger:
    case FieldType::ftWord: d.code = kLong; d.size = 4; break;
    case FieldType::ftAutoInc: d.code = kAutoInc; d.size = 4; break;
    case FieldType::ftFloat:
    case FieldType::ftLargeint: d.code = kNumber; d.size = 8; break;
    case FieldType::ftCurrency: d.code = kCurrency; d.size = 8; break;
    case FieldType::ftBCD:
        if (def.size < 0 || def.size > 32) bad("BCD decimals " + std::to_string(def.size));
        d.code = kBcd;
        d.size = static_cast<std::uint8_t>(def.size);
        break;
    case FieldType::ftBoolean: d.code = kLogical; d.size = 1; break;
    case FieldType::ftDate: d.code = kDate; d.size = 4; break;
    case FieldType::ftTime: d.code = kTime; d.size = 4; break;
    case FieldType::ftDateTime:
    case FieldType::ftTimeStamp: d.code = kTimestamp; d.size = 8; break;
    case FieldType::ftBytes:
    case FieldType::ftVarBytes:
        if (def.size < 1 || def.size > 255) bad("bytes size " + std::to_string(def.size));
        d.code = kBytes;
        d.size = static_cast<std::uint8_t>(def.size);
        break;
    case FieldType::ftMemo:
    case FieldType::ftFmtMemo:
    case FieldType::ftBlob:
    case FieldType::ftGraphic:
    case FieldType::ftParadoxOle:
    case FieldType::ftTypedBinary:
    case FieldType::ftDBaseOle: {
        const int minLeader = def.type == FieldType::ftMemo ? 1 : 0;
        const int leader = def.size == 0 ? std::max(minLeader, 10) : def.size;
        if (leader < minLeader || leader > 240) bad("blob leader size " + std::to_string(def.size));
        d.code = def.type == FieldType::ftMemo ? kMemo
                 : def.type == FieldType::ftFmtMemo ? kFmtMemo
                 : def.type == FieldType::ftGraphic ? kGraphic
                 : (def.type == FieldType::ftParadoxOle || def.type == FieldType::ftDBaseOle) ? kOle
                                                                                             : kBlob;
        d.size = static_cast<std::uint8_t>(leader + 10);
        break;
    }
    default: bad("type " + std::string(fieldTypeName(def.type)) + " cannot be stored in a Paradox table");
    }
    d.width = fieldWidth(d.code, d.size);
    return d;
}

// Deletes every file of a table's family: the table, its blob file, its indexes and the
// files of the interactive product that belong to it.
void deleteFamily(const fsys::path& dbPath) {
    const fsys::path dir = dbPath.has_parent_path() ? dbPath.parent_path() : ".";
    const std::string stem = upperAscii(dbPath.stem().string());
    std::error_code ec;
    std::vector<fsys::path> doomed;
    for (const auto& entry : fsys::directory_iterator(dir, ec)) {
        const fsys::path& p = entry.path();
        if (upperAscii(p.stem().string()) != stem) continue;
        const std::string ext = upperAscii(p.extension().string());
        const bool member = ext == ".DB" || ext == ".PX" || ext == ".MB" || ext == ".VAL" ||
                            ext == ".TV" || ext == ".FAM" ||
                            (ext.size() == 4 && (ext[1] == 'X' || ext[1] == 'Y') &&
                             (ext[2] == 'G' || std::isdigit(static_cast<unsigned char>(ext[2]))) &&
                             std::isxdigit(static_cast<unsigned char>(ext[3])));
        if (member) doomed.push_back(p);
    }
    for (const auto& p : doomed) {
        fsys::remove(p, ec);
        if (ec) throw EngineError(ErrorKind::Database, "Cannot delete " + p.string() + ": " + ec.message());
    }
}

int blockSizeCodeFor(int recordSize) {
    for (int code : {4, 8, 16, 32})
        if (recordSize <= code * 1024 - 6) return code;
    return 0;
}

} // namespace

void createParadoxTable(const fsys::path& path, const std::vector<FieldDef>& fields,
                        const std::vector<IndexDef>& indexes, const Session& session,
                        const std::string& password) {
    const std::string table = path.filename().string();
    if (fields.empty()) throw EngineError("Table " + table + " needs at least one field");
    const int cp = session.ansiCodePage();
    std::vector<FieldDesc> descs;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& def = fields[i];
        if (def.name.empty()) throw EngineError("Field " + std::to_string(i + 1) + " of table " + table + " has no name");
        if (def.name.size() > 25)
            throw EngineError("Field name " + def.name + " of table " + table + " is longer than 25 characters");
        for (std::size_t j = 0; j < i; ++j)
            if (sameName(fields[j].name, def.name))
                throw EngineError("Field name " + def.name + " occurs twice in table " + table);
        FieldDesc d = descriptorFor(def, table);
        d.name = def.name;
        descs.push_back(d);
    }
    int numKeyFields = 0;
    for (const auto& ix : indexes) {
        if (ix.isPrimary()) {
            const auto names = ix.fieldList();
            for (std::size_t k = 0; k < names.size(); ++k)
                if (k >= fields.size() || !sameName(names[k], fields[k].name))
                    throw EngineError("The primary index of table " + table +
                                      " must cover its leading fields in order");
            numKeyFields = static_cast<int>(names.size());
        }
    }
    int recordSize = 0;
    for (const auto& d : descs) recordSize += d.width;
    const int code = blockSizeCodeFor(recordSize);
    if (code == 0) throw EngineError("Records of table " + table + " are too long (" + std::to_string(recordSize) + " bytes)");

    // Refuse while another open holds the old table.
    File old;
    if (fsys::exists(path)) {
        old = File::open(path);
        if (!old.tryLock(true))
            throw EngineError(ErrorKind::Database, "Table " + path.string() + " is in use by someone else");
    }
    deleteFamily(path);

    DataHeaderLayout layout;
    layout.fields = descs;
    layout.fileType = numKeyFields > 0 ? kKeyedDb : kUnkeyedDb;
    layout.numKeyFields = numKeyFields;
    layout.codePage = cp;
    layout.sortOrder = cp == 1252 ? 0x4C : 0x00;
    layout.sortName = cp == 1252 ? "DBWINUS0" : "ascii";
    layout.blockSizeCode = code;
    layout.tableName = table;
    auto headerBytes = buildDataHeader(layout);
    const std::uint32_t key = keyForPassword(password);
    if (key != 0) {
        writeU32(&headerBytes[hdr::kEncryption2], key);
        headerBytes[0x3E] = headerBytes[0x3F] = 0;
    }
    bool hasBlob = false;
    for (const auto& d : descs)
        hasBlob = hasBlob || d.code == kMemo || d.code == kBlob || d.code == kFmtMemo || d.code == kOle || d.code == kGraphic;
    if (hasBlob) BlobFile::createEmpty(companionPath(path, ".MB"), key);
    {
        File f = File::create(path);
        f.writeAt(0, headerBytes.data(), headerBytes.size());
        f.sync();
    }
    if (numKeyFields > 0) {
        const Header h = readDataHeader(path, headerBytes, headerBytes.size());
        writePrimaryIndexFile(companionPath(path, ".PX"), h, {});
    }
    if (std::any_of(indexes.begin(), indexes.end(), [](const IndexDef& ix) { return !ix.isPrimary(); })) {
        // Secondary indexes need the table open, which an encrypted one only is with its password.
        Session withPassword = session;
        if (!password.empty()) withPassword.addPassword(password);
        for (const auto& ix : indexes)
            if (!ix.isPrimary()) addParadoxIndex(path, ix.name, ix.fields, ix.options, withPassword);
    }
    // The new files and the old family's removal stay so after a power cut.
    syncDirectory(path.has_parent_path() ? path.parent_path() : fsys::path("."));
}

void addParadoxIndex(const fsys::path& path, const std::string& name, const std::string& fields,
                     unsigned options, const Session& session) {
    OpenRequest request{path, true, &session};
    ParadoxTable table(request);
    if (options & ixPrimary) {
        table.makePrimary(splitFieldList(fields));
        return;
    }
    IndexDef def;
    def.name = name;
    def.fields = fields;
    def.options = options;
    table.addSecondaryIndex(def);
}

void dropParadoxIndex(const fsys::path& path, const std::string& name, const Session& session) {
    OpenRequest request{path, true, &session};
    ParadoxTable table(request);
    table.dropIndex(name);
}

} // namespace fieldsmith::engine::paradox
