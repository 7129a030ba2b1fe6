#include "BatchCommands.h"

#include "engine/EngineError.h"

#include "engine/CodePage.h"
#include "engine/DateCalc.h"
#include "engine/FormatSettings.h"
#include "engine/Session.h"
#include "engine/AliasesFile.h"
#include "engine/Table.h"
#include "tables/Preview.h"
#include "tables/RunBackup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace fieldsmith::batch {

using namespace fieldsmith::engine;

int listAliases(Session& session, std::ostream& out) {
    for (const auto& name : session.aliasNames()) {
        const DatabaseDesc d = session.databaseDesc(name);
        out << name << '\t' << d.type << '\t';
        if (d.type == "STANDARD") {
            out << d.path;
        } else {
            for (const auto& [k, v] : session.aliasParams(name))
                if (sameName(k, "SERVER NAME")) out << v;
        }
        out << '\n';
    }
    return kExitOk;
}

int listTables(Session& session, const std::string& alias, std::ostream& out) {
    for (const auto& name : session.tableNames(alias)) out << name << '\n';
    return kExitOk;
}

int describeTable(Table& table, std::ostream& out) {
    const int cp = table.session().ansiCodePage();
    // A file table is named by its file, a table of a server database by the alias.
    const std::string name = table.session().isSqlAlias(table.databaseName())
                                 ? table.tableName() + " of " + table.databaseName()
                                 : table.filePath().string();
    out << "Table " << toUtf8(name, cp) << '\n';
    out << "Fields:\n";
    int i = 1;
    for (const auto& f : table.fieldDefs()) {
        out << "  " << i++ << '\t' << toUtf8(f.name, cp) << '\t' << fieldTypeName(f.type) << '\t'
            << f.size << '\t' << (f.required ? "required" : "") << '\n';
    }
    out << "Indexes:\n";
    for (const auto& ix : table.indexDefs()) {
        out << "  " << (ix.name.empty() ? "(primary)" : toUtf8(ix.name, cp)) << '\t'
            << toUtf8(ix.fields, cp) << '\t' << indexOptionsText(ix.options) << '\n';
    }
    return kExitOk;
}

std::string dumpText(const Value& v, FieldType type, int codePage) {
    FormatSettings iso;
    switch (v.kind) {
    case Value::Kind::Null: return {};
    case Value::Kind::Text:
        if (type == FieldType::ftFmtMemo) return "<" + std::to_string(v.s.size()) + " bytes>";
        return toUtf8(v.s, codePage);
    case Value::Kind::Bytes:
        if (type == FieldType::ftBytes || type == FieldType::ftVarBytes) {
            static const char* hex = "0123456789abcdef";
            std::string out;
            for (unsigned char c : v.s) {
                out += hex[c >> 4];
                out += hex[c & 15];
            }
            return out;
        }
        return "<" + std::to_string(v.s.size()) + " bytes>";
    case Value::Kind::Int: return std::to_string(v.i);
    case Value::Kind::Bool: return v.i ? "True" : "False";
    case Value::Kind::Float:
        if (!v.s.empty()) return v.s;
        return formatFloat(v.f, iso);
    case Value::Kind::Date: return formatDate(v.i, iso);
    case Value::Kind::Time: return formatTime(v.i, iso);
    case Value::Kind::DateTime: {
        const auto total = static_cast<std::int64_t>(std::llround(v.f));
        std::int64_t day = total / kMsPerDay, ms = total % kMsPerDay;
        if (ms < 0) {
            ms += kMsPerDay;
            --day;
        }
        return formatDate(day, iso) + " " + formatTime(ms, iso);
    }
    }
    return {};
}

std::string csvQuote(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

run::OperationTable previewOperations(const run::OperationTable& operations, std::ostream& out,
                                      int codePage) {
    run::OperationTable previews;
    for (const std::string& name : operations.names()) {
        const run::Operation operation = *operations.find(name);
        previews.add(name, [name, operation, &out, codePage](run::RunContext& ctx) {
            if (const std::string refusal = tables::previewRefusal(name, ctx.inputs); !refusal.empty())
                return ctx.host.showError(refusal);
            const tables::PreviewResult result = tables::previewRun(ctx, operation);
            if (result.errors > 0) return; // a check stopped the run: the error said why
            ctx.host.showInformation(tables::previewSummary(result));
            out << "Table,Record,Change,Field,Old value,New value\r\n";
            for (const auto& r : result.records)
                for (const auto& f : r.fields) {
                    for (const std::string* text : {&r.table, &r.record})
                        out << csvQuote(toUtf8(*text, codePage)) << ',';
                    out << tables::changeWord(r.kind) << ',';
                    out << csvQuote(toUtf8(f.field, codePage)) << ',' << csvQuote(toUtf8(f.before, codePage))
                        << ',' << csvQuote(toUtf8(f.after, codePage)) << "\r\n";
                }
            out.flush();
        });
    }
    return previews;
}

int dumpTable(Table& table, std::ostream& out) {
    const int cp = table.session().ansiCodePage();
    const auto& defs = table.fieldDefs();
    for (std::size_t i = 0; i < defs.size(); ++i) out << (i ? "," : "") << csvQuote(toUtf8(defs[i].name, cp));
    out << "\r\n";
    table.first();
    while (!table.eof() && table.recordCount() > 0) {
        for (int i = 0; i < table.fieldCount(); ++i) {
            const Field f = table.field(i);
            out << (i ? "," : "") << csvQuote(dumpText(f.value(), f.type(), cp));
        }
        out << "\r\n";
        table.next();
    }
    return kExitOk;
}

void aimTable(Table& table, const std::vector<std::string>& where) {
    for (const auto& w : where)
        if (w.empty()) throw engine::EngineError("An empty alias or table name was given");
    if (where.size() == 1) {
        table.setDatabaseName("");
        table.setTableName(std::filesystem::absolute(where[0]).string());
    } else {
        table.setDatabaseName(where.at(0));
        table.setTableName(where.at(1));
    }
}

void orderTable(Table& table, const std::string& index) {
    if (index.empty()) return;
    table.updateIndexDefs();
    for (const auto& ix : table.indexDefs()) {
        if (ix.name.empty() || !engine::sameName(ix.name, index)) continue;
        table.setIndexName(ix.name);
        return;
    }
    table.setIndexFieldNames(index);
}

int undoCommand(Session& session, const std::vector<std::string>& operands, std::ostream& out,
                std::ostream& err) {
    bool list = false;
    int answer = -1; // -1 none, 0 no, 1 yes
    for (const auto& o : operands) {
        if (o == "--list") list = true;
        else if (o == "--yes") answer = 1;
        else if (o == "--no") answer = 0;
        else {
            err << "undo takes --list, --yes or --no, not " << o << '\n';
            return kExitUsage;
        }
    }
    const auto runs = tables::listBackupRuns(session.configDir());
    if (list) {
        for (const auto& run : runs) out << tables::runListLine(run) << '\n';
        return kExitOk;
    }
    if (runs.empty()) {
        err << tables::kNothingToUndo << '\n';
        return kExitFailed;
    }
    if (const std::string refusal = tables::undoRefusal(runs.front()); !refusal.empty()) {
        err << refusal << '\n';
        return kExitFailed;
    }
    err << tables::undoQuestion(runs.front()) << '\n';
    if (answer < 0) {
        err << "The question was not answered: give --yes or --no\n";
        return 4;
    }
    if (answer == 0) return kExitOk;
    tables::undoRun(runs.front(), session);
    err << "The run " << runs.front().describe() << " was undone.\n";
    return kExitOk;
}

int aliasCommand(Session& session, const std::vector<std::string>& operands, std::ostream& out,
                 std::ostream& err) {
    std::vector<std::string> words;
    bool force = false;
    for (const auto& o : operands) {
        if (o == "--force") force = true;
        else words.push_back(o);
    }
    engine::AliasesFile file(session.configDir() / "aliases.ini");
    if (words.size() == 1 && words[0] == "list") {
        for (const auto& alias : file.aliases()) {
            out << alias.name;
            for (const auto& [k, v] : alias.params) out << '\t' << k << '=' << v;
            out << '\n';
        }
        return kExitOk;
    }
    if (words.size() == 2 && words[0] == "remove") {
        if (!file.remove(words[1])) {
            err << "There is no alias " << words[1] << '\n';
            return kExitFailed;
        }
        file.save();
        err << "Alias " << words[1] << " removed\n";
        return kExitOk;
    }
    if (words.size() >= 3 && words[0] == "add") {
        engine::AliasEntry alias{words[1], {}};
        if (words.size() == 3 && words[2].find('=') == std::string::npos) {
            alias.params = {{"TYPE", "STANDARD"}, {"PATH", words[2]}};
        } else {
            for (std::size_t i = 2; i < words.size(); ++i) {
                const auto eq = words[i].find('=');
                if (eq == std::string::npos || eq == 0) {
                    err << "alias add takes a directory or KEY=VALUE pairs, not " << words[i] << '\n';
                    return kExitUsage;
                }
                alias.params.emplace_back(words[i].substr(0, eq), words[i].substr(eq + 1));
            }
            if (alias.param("TYPE").empty()) alias.params.insert(alias.params.begin(), {"TYPE", "STANDARD"});
        }
        if (const std::string why = engine::aliasReachability(alias); !why.empty()) {
            err << why << '\n';
            if (!force) {
                err << "The alias was not saved; --force saves it all the same\n";
                return kExitFailed;
            }
        }
        const auto before = file.aliases();
        const bool existed = std::any_of(before.begin(), before.end(), [&](const engine::AliasEntry& a) {
            return engine::sameName(a.name, alias.name);
        });
        file.set(alias);
        file.save();
        err << "Alias " << alias.name << (existed ? " changed" : " added") << '\n';
        return kExitOk;
    }
    err << "Usage: alias list | alias add NAME DIRECTORY | alias add NAME KEY=VALUE... [--force] | alias remove NAME\n";
    return kExitUsage;
}

} // namespace fieldsmith::batch
