// The indexes of the dBase driver: tags of the production index listed as the table's
// indexes, the index marked stale by the first change that affects its keys and written
// whole at the flush, tags added and dropped on the table held exclusively, and the
// definitions of single index files.
#include "DBaseTable.h"

#include "../EngineError.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <numeric>

namespace fieldsmith::engine::dbase {

namespace {

std::string trim(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    std::size_t a = 0;
    while (a < s.size() && std::isspace(static_cast<unsigned char>(s[a])))
        ++a;
    return s.substr(a);
}

// The single index files a NAME.INF lists in its [dBase III] section (NDX1=..., NDX2=...).
std::vector<std::string> indexFilesOfInf(const std::filesystem::path& inf) {
    std::vector<std::string> names;
    std::ifstream in(inf);
    std::string line;
    bool section = false;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            section = sameName(line, "[dBase III]");
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!section || eq == std::string::npos) continue;
        const std::string key = upperAscii(trim(line.substr(0, eq)));
        if (key.rfind("NDX", 0) == 0) names.push_back(trim(line.substr(eq + 1)));
    }
    return names;
}

// A tag name as the index file stores it: upper case, letters, digits and '_', at most ten
// characters, different from the names taken already.
std::string tagNameFor(const std::string& wanted, const std::vector<std::string>& taken) {
    std::string name;
    for (char c : upperAscii(wanted))
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '_' ? c : '_';
    if (name.empty()) name = "TAG";
    name = name.substr(0, 10);
    auto used = [&](const std::string& n) {
        return std::any_of(taken.begin(), taken.end(),
                           [&](const std::string& t) { return sameName(t, n); });
    };
    for (int n = 1; used(name); ++n) {
        const std::string suffix = std::to_string(n);
        name = name.substr(0, 10 - suffix.size()) + suffix;
    }
    return name;
}

} // namespace

// Reads the tag definitions of the production index and the single index files that
// belong to the table. An index file whose flag in the header is off was left stale by a
// writer that stopped before its flush: its tags are listed, and it is written anew at the
// next flush after a change.
void DBaseTable::readIndexFiles() {
    tags_.clear();
    singleIndexes_.clear();
    mdxPath_.reset();
    indexStale_ = indexFlagOff_ = false;
    if (header_.dialect != Dialect::DBase && header_.dialect != Dialect::DBase7) return;
    if (const auto mdx = findCompanion(db_.path(), ".MDX")) {
        const File file = File::open(*mdx);
        for (auto& def : readMdxTags(file)) {
            Tag tag;
            tag.def = std::move(def);
            std::string why;
            tag.expression = TagExpression::parse(tag.def.expression, header_.fields, why);
            if (tag.expression) tag.expression->setUpperCaseMap(upper_);
            if (!tag.def.condition.empty())
                tag.problem = "its index tag " + tag.def.name +
                              " has a FOR condition, which this program cannot evaluate";
            else if (!tag.expression)
                tag.problem = "the key expression '" + tag.def.expression + "' of its index tag " +
                              tag.def.name + " cannot be evaluated (" + why + ")";
            tags_.push_back(std::move(tag));
        }
        mdxPath_ = *mdx;
        if (!header_.productionIndex && !tags_.empty()) indexStale_ = indexFlagOff_ = true;
    }
    std::vector<std::filesystem::path> ndx;
    if (const auto own = findCompanion(db_.path(), ".NDX")) ndx.push_back(*own);
    if (const auto inf = findCompanion(db_.path(), ".INF")) {
        const std::filesystem::path dir =
            db_.path().has_parent_path() ? db_.path().parent_path() : ".";
        for (const auto& name : indexFilesOfInf(*inf)) {
            const auto p =
                findCompanion(dir / name, std::filesystem::path(name).extension().string());
            if (p && std::find(ndx.begin(), ndx.end(), *p) == ndx.end()) ndx.push_back(*p);
        }
    }
    for (const auto& p : ndx)
        singleIndexes_.push_back(readNdxDefinition(File::open(p)));
}

// Why the indexes would not stay right after a change, or empty.
std::string DBaseTable::unmaintainedIndexes() const {
    for (const auto& t : tags_)
        if (!t.problem.empty()) return t.problem;
    if (!singleIndexes_.empty())
        return "its single index file " + singleIndexes_.front().name +
               ".NDX would not be kept up to date by this program";
    return {};
}

std::vector<IndexDef> DBaseTable::indexes() {
    std::vector<IndexDef> list;
    auto describe = [&](const TagDef& def, const TagExpression* expression, unsigned extra) {
        IndexDef d;
        d.name = def.name;
        d.options = extra | (def.unique ? ixUnique : 0u) | (def.descending ? ixDescending : 0u);
        std::vector<int> fields;
        bool ci = false;
        if (expression && def.condition.empty() && expression->asFieldList(fields, ci)) {
            std::vector<std::string> names;
            for (int f : fields) {
                const auto it = std::find(visible_.begin(), visible_.end(), f);
                names.push_back(fieldDefs_[static_cast<std::size_t>(it - visible_.begin())].name);
            }
            d.fields = joinFieldList(names);
            if (ci) d.options |= ixCaseInsensitive;
        } else {
            d.options |= ixExpression;
        }
        list.push_back(std::move(d));
    };
    for (const auto& t : tags_)
        describe(t.def, t.expression ? &*t.expression : nullptr, 0);
    for (const auto& def : singleIndexes_) {
        std::string why;
        auto e = TagExpression::parse(def.expression, header_.fields, why);
        describe(def, e ? &*e : nullptr, ixNonMaintained);
    }
    return list;
}

// The first change that alters keys of the production index clears the header's flag that
// tells readers to use the index; the flush writes the index and sets the flag again.
void DBaseTable::invalidateIndex(const std::uint8_t* before, const std::uint8_t* after) {
    if (tags_.empty()) {
        // The header asks for an index file that is not there: it no longer will.
        if (header_.productionIndex && !mdxPath_) setProductionIndexFlag(false);
        return;
    }
    if (indexStale_ && indexFlagOff_) return;
    bool affected = before == nullptr;
    for (const auto& t : tags_) {
        if (affected || !t.expression) break;
        for (int f : t.expression->referencedFields()) {
            const FieldDesc& d = header_.fields[static_cast<std::size_t>(f)];
            if (std::memcmp(before + d.offset, after + d.offset,
                            static_cast<std::size_t>(d.length)) != 0)
                affected = true;
        }
    }
    if (!affected) return;
    if (!indexFlagOff_) {
        setProductionIndexFlag(false);
        indexFlagOff_ = true;
    }
    indexStale_ = true;
}

void DBaseTable::setProductionIndexFlag(bool on) {
    const std::uint8_t flag = on ? 1 : 0;
    db_.writeAt(hdr::kProductionIndex, &flag, 1);
    header_.productionIndex = on;
}

// Writes the production index whole from the records: each tag's keys in index order
// (equal keys by record number; a unique tag keeps the first record of each key; deleted
// records keep their keys, as in dBase until the table is packed).
void DBaseTable::rebuildProductionIndex(const std::vector<Tag>& tags) {
    std::vector<TagContent> contents(tags.size());
    for (std::size_t t = 0; t < tags.size(); ++t) {
        contents[t].def = tags[t].def;
        contents[t].def.keyType = tags[t].expression->keyType();
        contents[t].def.keyLength = tags[t].expression->keyLength();
        std::vector<int> fields;
        bool ci = false;
        contents[t].singleField =
            tags[t].expression->asFieldList(fields, ci) && fields.size() == 1 && !ci;
        contents[t].entries.reserve(count_);
    }
    const std::size_t rl = header_.recordLength;
    const std::uint32_t perChunk =
        static_cast<std::uint32_t>(std::max<std::size_t>((256 * 1024) / rl, 1));
    std::vector<std::uint8_t> chunk;
    for (std::uint32_t r = 1; r <= count_; r += perChunk) {
        const std::uint32_t n = std::min(perChunk, count_ - r + 1);
        chunk.resize(static_cast<std::size_t>(n) * rl);
        db_.readAt(recordOffset(r), chunk.data(), chunk.size());
        for (std::uint32_t k = 0; k < n; ++k)
            for (std::size_t t = 0; t < tags.size(); ++t)
                contents[t].entries.emplace_back(tags[t].expression->key(&chunk[k * rl]), r + k);
    }
    for (std::size_t t = 0; t < tags.size(); ++t) {
        const TagExpression& e = *tags[t].expression;
        auto& entries = contents[t].entries;
        const bool descending = contents[t].def.descending;
        // The entries come in record order; a stable sort by key keeps it among equal keys.
        // Numeric and date keys sort by the value each stands for, worked out once.
        if (e.keyType() == 'C') {
            std::stable_sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
                return descending ? b.first < a.first : a.first < b.first;
            });
        } else {
            std::vector<std::pair<long double, std::uint32_t>> order;
            order.reserve(entries.size());
            for (std::uint32_t i = 0; i < entries.size(); ++i)
                order.emplace_back(e.keyValue(entries[i].first), i);
            std::stable_sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
                return descending ? b.first < a.first : a.first < b.first;
            });
            std::vector<std::pair<std::string, std::uint32_t>> sorted;
            sorted.reserve(entries.size());
            for (const auto& o : order)
                sorted.push_back(std::move(entries[o.second]));
            entries = std::move(sorted);
        }
        if (contents[t].def.unique)
            entries.erase(std::unique(entries.begin(), entries.end(),
                                      [&](const auto& a, const auto& b) {
                                          return e.compareKeys(a.first, b.first) == 0;
                                      }),
                          entries.end());
    }
    const std::filesystem::path path = mdxPath_ ? *mdxPath_ : companionPath(db_.path(), ".MDX");
    writeMdx(path, db_.path().stem().string(), contents);
    mdxPath_ = path;
}

// The descriptor flag that says a field has a tag of its own: set for single-field tags,
// cleared otherwise, as dBase keeps it.
void DBaseTable::markTaggedFields(const std::vector<Tag>& tags) {
    if (header_.dialect != Dialect::DBase) return;
    for (std::size_t i = 0; i < header_.fields.size(); ++i) {
        FieldDesc& f = header_.fields[i];
        bool tagged = false;
        for (const auto& t : tags) {
            std::vector<int> fields;
            bool ci = false;
            if (t.expression && t.def.condition.empty() && t.expression->asFieldList(fields, ci) &&
                fields.size() == 1 && !ci && fields[0] == static_cast<int>(i))
                tagged = true;
        }
        if (tagged == f.mdxFlag) continue;
        const std::uint8_t flag = tagged ? 1 : 0;
        db_.writeAt(f.descriptorAt + hdr::kDescriptorFlag, &flag, 1);
        f.mdxFlag = tagged;
    }
}

void DBaseTable::requireExclusiveChange(const char* what) {
    if (!exclusive_)
        throw EngineError(ErrorKind::Database,
                          "Table " + tableName() + " must be opened exclusively to " + what);
    if (!header_.readOnlyReason.empty())
        throw EngineError(ErrorKind::General, "Table " + db_.path().string() +
                                                  " cannot be changed: " + header_.readOnlyReason);
    if (!db_.writable())
        throw EngineError(ErrorKind::Database, "Table " + db_.path().string() + " is read-only");
    if (!db_.tryWriterLock())
        throw EngineError(ErrorKind::Database,
                          "Table " + db_.path().string() + " is in use by someone else");
    changed_ = true;
}

void DBaseTable::dropIndex(const std::string& name) {
    const std::string table = tableName();
    if (name.empty())
        throw EngineError(ErrorKind::General,
                          "dBase table " + table + " has no primary index to drop");
    requireExclusiveChange("drop an index");
    const auto it = std::find_if(tags_.begin(), tags_.end(),
                                 [&](const Tag& t) { return sameName(t.def.name, name); });
    if (it == tags_.end()) {
        for (const auto& def : singleIndexes_) {
            if (!sameName(def.name, name)) continue;
            if (const auto p =
                    findCompanion(db_.path().parent_path() / (def.name + ".NDX"), ".NDX"))
                std::filesystem::remove(*p);
            readIndexFiles();
            return;
        }
        throw EngineError(ErrorKind::General,
                          "Index " + name + " does not exist on table " + table);
    }
    std::vector<Tag> remaining;
    for (auto& t : tags_)
        if (&t != &*it) remaining.push_back(std::move(t));
    tags_.clear();
    for (const auto& t : remaining)
        if (!t.problem.empty()) {
            tags_ = std::move(remaining);
            readIndexFiles();
            throw EngineError(ErrorKind::General, "Index " + name + " of table " + table +
                                                      " cannot be dropped: " + t.problem);
        }
    if (remaining.empty()) {
        setProductionIndexFlag(false);
        db_.sync();
        if (mdxPath_) std::filesystem::remove(*mdxPath_);
        mdxPath_.reset();
    } else {
        rebuildProductionIndex(remaining);
        setProductionIndexFlag(true);
    }
    markTaggedFields(remaining);
    tags_ = std::move(remaining);
    indexStale_ = indexFlagOff_ = false;
}

void DBaseTable::addTag(const std::string& name, const std::string& fieldList, unsigned options) {
    const std::string table = tableName();
    if (options & ixPrimary)
        throw EngineError(ErrorKind::General, "dBase tables have no primary index: table " + table +
                                                  " cannot get an index with the primary option");
    requireExclusiveChange("add an index");
    if (const std::string problem = unmaintainedIndexes(); !problem.empty())
        throw EngineError(ErrorKind::General,
                          "No index can be added to table " + table + ": " + problem);
    if (tags_.size() >= static_cast<std::size_t>(kMaxTags))
        throw EngineError(ErrorKind::General, "Table " + table + " has 47 index tags already");
    std::string text = fieldList;
    if (!(options & ixExpression)) {
        const auto names = splitFieldList(fieldList);
        if (names.empty())
            throw EngineError(ErrorKind::General, "No fields given for an index of table " + table);
        text.clear();
        for (const auto& n : names) {
            int found = -1;
            for (std::size_t i = 0; i < fieldDefs_.size(); ++i)
                if (sameName(fieldDefs_[i].name, n)) found = static_cast<int>(i);
            if (found < 0)
                throw EngineError(ErrorKind::UnknownField,
                                  "Index field " + n + " not found in table " + table);
            const FieldDesc& f = desc(found);
            std::string term = f.name;
            if (f.type == 'C' && (options & ixCaseInsensitive))
                term = "UPPER(" + term + ")";
            else if (f.type == 'D' && names.size() > 1)
                term = "DTOS(" + term + ")";
            else if ((f.type == 'N' || f.type == 'F') && names.size() > 1)
                term = "STR(" + term + "," + std::to_string(f.length) + "," +
                       std::to_string(f.decimals) + ")";
            text += (text.empty() ? "" : "+") + term;
        }
    }
    std::string why;
    auto expression = TagExpression::parse(text, header_.fields, why);
    if (!expression)
        throw EngineError(ErrorKind::General, "The index expression '" + text +
                                                  "' cannot be used on table " + table + ": " +
                                                  why);
    expression->setUpperCaseMap(upper_);
    std::vector<std::string> taken;
    for (const auto& t : tags_)
        taken.push_back(t.def.name);
    Tag tag;
    tag.def.name = tagNameFor(name.empty() ? fieldList : name, taken);
    tag.def.expression = text;
    tag.def.keyType = expression->keyType();
    tag.def.keyLength = expression->keyLength();
    tag.def.unique = options & ixUnique;
    tag.def.descending = options & ixDescending;
    tag.expression = std::move(expression);
    std::vector<Tag> all;
    for (auto& t : tags_)
        all.push_back(std::move(t));
    all.push_back(std::move(tag));
    tags_.clear();
    try {
        rebuildProductionIndex(all);
    } catch (...) {
        readIndexFiles();
        throw;
    }
    setProductionIndexFlag(true);
    markTaggedFields(all);
    tags_ = std::move(all);
    indexStale_ = indexFlagOff_ = false;
}

} // namespace fieldsmith::engine::dbase
