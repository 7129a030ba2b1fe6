#include "IndexRestore.h"

#include "app/run/Pickers.h"
#include "app/run/RunHost.h"
#include "engine/EngineError.h"
#include "engine/FileIo.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fieldsmith::tables {

using engine::EngineError;
using engine::ErrorKind;
using engine::Session;
using engine::Table;
using engine::TableType;

const std::array<std::string, 4>& tablePasswords() {
    static const std::array<std::string, 4> passwords = {"48Qe2wB7R5", "tK93Hd162P", "258MZ4Nc93",
                                                         "pW247gY9h3"};
    return passwords;
}

std::string tableNameWithExtension(std::string_view text) {
    std::string name(text);
    if (name.find('.') == std::string::npos) name += ".DB";
    return name;
}

std::string indexListPath(Session& session, const std::string& alias, const std::string& name) {
    if (session.isSqlAlias(alias)) {
        // A server database has no directory of ours: its lists live in the configuration
        // directory, one folder per alias.
        const std::filesystem::path dir = session.configDir() / "index-lists" / engine::upperAscii(alias);
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        return session.workingFile(dir / (name + ".Index.txt")).string();
    }
    return session.workingFile(run::GetAliasPath(session, alias) + "/" + name + ".Index.txt").string();
}

namespace {

// Beside the index list of a server table: the server's own statements for its secondary
// indexes, "name<TAB>statement" a line, so that they come back exactly as they were (a
// unique index unique, a descending one descending) and not as plain indexes on fields.
std::string statementsPath(const std::string& listPath) {
    return listPath.substr(0, listPath.size() - std::string_view(".txt").size()) + ".sql";
}

std::string escapeLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string unescapeLine(const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            out += line[i];
            continue;
        }
        const char c = line[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

// The type a name stands for by plain substring tests, dBase first, then text.
TableType typeByName(const std::string& name) {
    TableType type = TableType::Paradox;
    if (name.find(".dbf") != std::string::npos || name.find(".DBF") != std::string::npos)
        type = TableType::DBase;
    if (name.find(".txt") != std::string::npos || name.find(".TXT") != std::string::npos)
        type = TableType::Ascii;
    return type;
}

void setUp(Table& t, const std::string& alias, const std::string& name) {
    t.setDatabaseName(alias);
    t.setTableName(name);
    t.setTableType(typeByName(name));
    t.setIndexFieldNames("");
}

// Opens exclusively; while the engine refuses with a database error, asks whether to try
// again. Cancel passes the error on.
void openExclusive(run::RunHost& host, Table& t, const std::string& question) {
    t.setExclusive(true);
    for (;;) {
        try {
            t.open();
            return;
        } catch (const EngineError& e) {
            if (!e.isDatabaseError() || !host.askRetry(question)) throw;
        }
    }
}

// The closing shared open and close. After an error it must not hide that error.
void openSharedAndClose(Table& t, bool quiet) {
    try {
        t.close();
        t.setExclusive(false);
        t.open();
        t.close();
    } catch (...) {
        if (!quiet) throw;
    }
}

void registerPasswords(Session& session) {
    for (const auto& p : tablePasswords()) session.addPassword(p);
}

std::vector<std::string> readLines(const std::string& path) {
    const std::string text = engine::readWholeFile(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void writeLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    engine::writeWholeFile(path, text);
}

bool sameFields(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
               return engine::sameName(x, y);
           });
}

std::string localTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d%m%Y%H%M%S", &tm);
    return buf;
}

} // namespace

std::string restoredIndexName(const std::string& line, int lineNumber, const std::string& timestamp) {
    std::string name = line;
    std::replace(name.begin(), name.end(), ';', '&');
    if (name.size() > 24) name = timestamp + std::to_string(lineNumber);
    return name;
}

void DeleteAllIndexes(run::RunHost& host, Session& session, const std::string& alias,
                      const std::string& tableBoxText) {
    const std::string name = tableNameWithExtension(tableBoxText);
    session.closeIdleDatabases();
    Table t(session);
    registerPasswords(session);
    setUp(t, alias, name);
    try {
        const auto statements = t.serverIndexStatements();
        openExclusive(host, t, "Table " + name + "\" cannot be opened exclusively - OK to try again?");
        host.processPendingMessages();

        std::vector<std::string> lines{""};
        t.updateIndexDefs();
        const auto n = t.indexDefs().size();
        if (n >= 1) {
            for (const auto& ix : t.indexDefs()) lines.push_back(ix.fields);
            // The primary key: the fields of the current (primary) index in field order.
            std::vector<std::string> keyFields;
            for (int i = 0; i < t.fieldCount(); ++i)
                if (t.field(i).isIndexField()) keyFields.push_back(t.field(i).name());
            const std::string key = engine::joinFieldList(keyFields);
            if (!key.empty()) {
                lines.insert(lines.begin(), key + "*");
                auto own = std::find(lines.begin() + 1, lines.end(), key);
                if (own != lines.end()) lines.erase(own);
            }
            auto empty = std::find(lines.begin(), lines.end(), std::string());
            if (empty != lines.end()) lines.erase(empty);
        }
        if (!lines.empty() && !lines.front().empty()) {
            const std::string listPath = indexListPath(session, alias, name);
            if (session.isSqlAlias(alias)) {
                std::vector<std::string> made;
                for (const auto& [index, statement] : statements)
                    made.push_back(index + "\t" + escapeLine(statement));
                // Statements a run left behind (ended before its restore) name indexes the
                // table lacks now: they are kept, so that this run's restore makes them too.
                const std::string kept = statementsPath(listPath);
                if (std::filesystem::exists(kept))
                    for (const std::string& line : readLines(kept)) {
                        const std::string index = line.substr(0, line.find('\t'));
                        if (!line.empty() &&
                            std::none_of(statements.begin(), statements.end(),
                                         [&](const auto& s) { return s.first == index; }))
                            made.push_back(line);
                    }
                writeLines(kept, made);
            }
            writeLines(listPath, lines);
            // The secondary indexes one after the other, then the primary index.
            for (std::size_t k = 0; k < n; ++k) {
                const auto& defs = t.indexDefs();
                const bool keyed = !defs.empty() && defs.front().isPrimary();
                const std::size_t victim = keyed ? 1 : 0;
                if (defs.size() > victim) t.deleteIndex(defs[victim].name);
                t.updateIndexDefs();
            }
            t.updateIndexDefs();
            // A primary index that stays (a server that cannot drop a key) is an error: the
            // walk would follow the key it writes and leave records out.
            if (!t.indexDefs().empty() && t.indexDefs().front().isPrimary()) {
                t.setIndexName("");
                t.deleteIndex("");
            }
        }
        t.close();
    } catch (...) {
        openSharedAndClose(t, true);
        throw;
    }
    openSharedAndClose(t, false);
}

void RestoreAllIndexes(run::RunHost& host, Session& session, const std::string& alias,
                       const std::string& name) {
    session.closeIdleDatabases();
    Table t(session);
    registerPasswords(session);
    setUp(t, alias, name);
    try {
        openExclusive(host, t,
                      "Tabelle \"" + name + "\" konnte nicht exclusiv ge\xF6" "ffnet werden - OK zu weiterem Versuch?");
        host.processPendingMessages();
        t.updateIndexDefs();
        const std::string listPath = indexListPath(session, alias, name);
        if (!std::filesystem::exists(listPath)) {
            openSharedAndClose(t, false);
            session.removeAllPasswords();
            return;
        }
        const auto lines = readLines(listPath);
        const std::vector<engine::IndexDef> existing = t.indexDefs();
        t.close();
        // A server table's secondary indexes come back by the server's own statements.
        const std::string exactPath = statementsPath(listPath);
        const bool exact = session.isSqlAlias(alias) && std::filesystem::exists(exactPath);
        // An index that cannot be rebuilt (the new key values repeat, say) does not cost the
        // others: each is tried, and the failures are reported together afterwards. The list
        // file keeps every line, so that the user can mend the table and restore again.
        std::string failures;
        if (!lines.empty() && !lines.front().empty()) {
            const std::string stamp = localTimestamp();
            for (std::size_t i = 0; i < lines.size(); ++i) {
                const std::string& line = lines[i];
                if (line.empty()) continue;
                const bool primary = line.back() == '*';
                if (exact && !primary) continue;
                const std::string fields = primary ? line.substr(0, line.size() - 1) : line;
                const std::string name =
                    primary ? std::string() : "_" + restoredIndexName(line, static_cast<int>(i), stamp);
                // A list left over from a run that failed before its removal names indexes
                // the table still has: those need no rebuilding.
                const bool present = std::any_of(existing.begin(), existing.end(), [&](const auto& ix) {
                    return ix.isPrimary() == primary && sameFields(ix.fieldList(), engine::splitFieldList(fields));
                });
                if (present) continue;
                try {
                    if (primary) t.addIndex("", fields, engine::ixPrimary);
                    else t.addIndex(name, fields, engine::ixCaseInsensitive);
                } catch (const EngineError& e) {
                    failures += std::string(failures.empty() ? "" : "\r") +
                                (primary ? "the primary index on " + fields
                                         : "the index " + name + " on " + fields) +
                                ": " + e.what();
                }
            }
        }
        if (exact) {
            for (const std::string& line : readLines(exactPath)) {
                const auto tab = line.find('\t');
                if (tab == std::string::npos) continue;
                const std::string index = line.substr(0, tab);
                try {
                    t.restoreServerIndex(index, unescapeLine(line.substr(tab + 1)));
                } catch (const EngineError& e) {
                    failures += std::string(failures.empty() ? "" : "\r") + "the index " + index +
                                ": " + e.what();
                }
            }
        }
        if (!failures.empty())
            throw EngineError(ErrorKind::General,
                              "Not every index of " + name + " could be restored:\r" + failures +
                                  "\rThe list of its indexes stays in " + listPath + ".");
    } catch (...) {
        openSharedAndClose(t, true);
        session.removeAllPasswords();
        throw;
    }
    openSharedAndClose(t, false);
    session.removeAllPasswords();
}

} // namespace fieldsmith::tables
