#include "OracleScript.h"

#include "OracleQuery.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace fieldsmith::oraclient {

namespace {

std::string trimmed(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return std::string(s.substr(b, e - b));
}

// The upper-case words at the start of a line (at most n).
std::vector<std::string> leadingWords(std::string_view line, std::size_t n) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (words.size() < n && i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        std::string w;
        while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) ||
                                   line[i] == '_' || line[i] == '@'))
            w += static_cast<char>(std::toupper(static_cast<unsigned char>(line[i++])));
        if (w.empty()) break;
        words.push_back(w);
    }
    return words;
}

// Whether a line (the first of a statement) is a SQL*Plus command rather than SQL.
bool isCommand(std::string_view line) {
    const std::string t = trimmed(line);
    if (!t.empty() && t[0] == '@') return true;
    const auto words = leadingWords(t, 2);
    if (words.empty()) return false;
    const std::string& w = words[0];
    if (w == "SET")
        return !(words.size() > 1 && (words[1] == "TRANSACTION" || words[1] == "ROLE" ||
                                      words[1] == "CONSTRAINT" || words[1] == "CONSTRAINTS"));
    static const char* commands[] = {
        "PROMPT",   "SPOOL",    "REM",      "REMARK", "WHENEVER", "EXIT",      "QUIT",
        "DEFINE",   "UNDEFINE", "SHOW",     "COLUMN", "PAUSE",    "CLEAR",     "HOST",
        "START",    "TIMING",   "TTITLE",   "BTITLE", "BREAK",    "COMPUTE",   "ACCEPT",
        "VARIABLE", "PRINT",    "DESCRIBE", "DESC",   "CONNECT",  "DISCONNECT"};
    for (const char* c : commands)
        if (w == c) return true;
    return false;
}

// Whether a statement starting with this line is a PL/SQL block, ended by a "/" line.
bool startsBlock(std::string_view line) {
    auto words = leadingWords(line, 5);
    if (words.empty()) return false;
    if (words[0] == "DECLARE" || words[0] == "BEGIN") return true;
    if (words[0] != "CREATE") return false;
    std::size_t i = 1;
    if (i + 1 < words.size() && words[i] == "OR" && words[i + 1] == "REPLACE") i += 2;
    if (i < words.size() && (words[i] == "EDITIONABLE" || words[i] == "NONEDITIONABLE")) ++i;
    if (i >= words.size()) return false;
    const std::string& w = words[i];
    return w == "PROCEDURE" || w == "FUNCTION" || w == "PACKAGE" || w == "TRIGGER" || w == "TYPE" ||
           w == "LIBRARY";
}

// Where a line leaves the lexical state of a statement: inside a string literal, a quoted
// name or a comment, or free. ends tells whether it ends with a ";" outside all of them.
struct LexState {
    bool inString = false;
    bool inName = false;
    bool inComment = false;
    bool free() const { return !inString && !inName && !inComment; }
};

bool scanLine(std::string_view line, LexState& st) {
    char last = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        const char n = i + 1 < line.size() ? line[i + 1] : '\0';
        if (st.inComment) {
            if (c == '*' && n == '/') st.inComment = false, ++i;
        } else if (st.inString) {
            if (c == '\'') {
                if (n == '\'')
                    ++i;
                else
                    st.inString = false, last = c;
            }
        } else if (st.inName) {
            if (c == '"') st.inName = false, last = c;
        } else if (c == '-' && n == '-') {
            break;
        } else if (c == '/' && n == '*') {
            st.inComment = true;
            ++i;
        } else if (c == '\'') {
            st.inString = true;
        } else if (c == '"') {
            st.inName = true;
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            last = c;
        }
    }
    return st.free() && last == ';';
}

std::string joined(const std::vector<std::string>& lines, const char* separator) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += separator;
        out += lines[i];
    }
    return out;
}

std::string feedback(StatementKind kind, std::int64_t rows) {
    auto count = [&](const char* verb) {
        return std::to_string(rows) + (rows == 1 ? " row " : " rows ") + verb + ".";
    };
    switch (kind) {
    case StatementKind::Query:
        return rows == 0 ? "no rows selected" : count("selected");
    case StatementKind::Insert:
        return count("created");
    case StatementKind::Update:
        return count("updated");
    case StatementKind::Delete:
        return count("deleted");
    case StatementKind::CreateTable:
        return "Table created.";
    case StatementKind::DropTable:
        return "Table dropped.";
    case StatementKind::TruncateTable:
        return "Table truncated.";
    case StatementKind::CreateIndex:
        return "Index created.";
    case StatementKind::DropIndex:
        return "Index dropped.";
    case StatementKind::Commit:
        return "Commit complete.";
    case StatementKind::Rollback:
        return "Rollback complete.";
    case StatementKind::Block:
        return "PL/SQL procedure successfully completed.";
    }
    return {};
}

} // namespace

// The script's lines one at a time, from the list or from the file, without line ends.
class OracleScript::LineSource {
public:
    explicit LineSource(const std::vector<std::string>& lines) : lines_(&lines) {}
    explicit LineSource(const std::filesystem::path& file)
        : in_(std::make_unique<std::ifstream>(file, std::ios::binary)) {
        if (!*in_) throw std::runtime_error("Cannot open file " + file.string() + ": " + std::strerror(errno));
    }
    bool next(std::string& line) {
        if (lines_) {
            if (pos_ >= lines_->size()) return false;
            line = (*lines_)[pos_++];
        } else {
            if (!std::getline(*in_, line)) {
                if (in_->bad()) throw std::runtime_error("Cannot read the script file");
                return false;
            }
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }

private:
    const std::vector<std::string>* lines_ = nullptr;
    std::size_t pos_ = 0;
    std::unique_ptr<std::ifstream> in_;
};

OracleScript::OracleScript(OracleSession& session) : session_(session) {}

std::vector<std::string>& OracleScript::lines() {
    file_.clear();
    return lines_;
}

void OracleScript::clear() {
    lines_.clear();
    file_.clear();
}

void OracleScript::loadFromFile(const std::filesystem::path& file) {
    std::ifstream probe(file, std::ios::binary);
    if (!probe) throw std::runtime_error("Cannot open file " + file.string() + ": " + std::strerror(errno));
    lines_.clear();
    file_ = file;
}

void OracleScript::emit(bool wanted, const std::string& text) {
    if (wanted && output_) output_(text);
}

void OracleScript::runStatement(const std::vector<std::string>& lines, bool block,
                                ScriptSummary& summary) {
    (void)block;
    emit(options_.sql, joined(lines, "\r\n"));
    ++summary.statements;
    try {
        OracleQuery query(session_);
        query.sql() = lines;
        query.open();
        std::int64_t rows = query.rowsProcessed();
        if (query.statementKind() == StatementKind::Query) {
            rows = query.recordCount();
            if (options_.data && rows > 0) {
                std::string header;
                for (int i = 0; i < query.fieldCount(); ++i)
                    header += (i ? "\t" : "") + query.fieldName(i);
                emit(true, header);
                for (query.first(); !query.eof(); query.next()) {
                    std::string row;
                    for (int i = 0; i < query.fieldCount(); ++i)
                        row += (i ? "\t" : "") + query.fieldText(i);
                    emit(true, row);
                }
            }
        }
        emit(options_.feedback, feedback(query.statementKind(), rows));
    } catch (const OracleError& e) {
        ++summary.failed;
        emit(options_.errors, e.what());
    }
}

ScriptSummary OracleScript::execute() {
    std::unique_ptr<LineSource> source =
        file_.empty() ? std::make_unique<LineSource>(lines_) : std::make_unique<LineSource>(file_);
    ScriptSummary summary;
    std::vector<std::string> statement;
    bool block = false;
    bool inLeadingComment = false;
    LexState state;
    std::string line;
    while (source->next(line)) {
        const std::string t = trimmed(line);
        if (statement.empty()) {
            // Between statements: comments, blank lines, commands and lone slashes.
            if (inLeadingComment) {
                if (t.find("*/") != std::string::npos) inLeadingComment = false;
                continue;
            }
            if (t.empty() || t.rfind("--", 0) == 0) continue;
            if (t.rfind("/*", 0) == 0) {
                inLeadingComment = t.find("*/", 2) == std::string::npos;
                continue;
            }
            if (t == "/") {
                ++summary.commands;
                emit(options_.nonSql, line);
                continue;
            }
            if (isCommand(t)) {
                ++summary.commands;
                emit(options_.nonSql, line);
                const auto words = leadingWords(t, 1);
                if (!words.empty() && (words[0] == "EXIT" || words[0] == "QUIT")) return summary;
                continue;
            }
            block = startsBlock(t);
            state = LexState();
        }
        if (t == "/" && state.free()) {
            // The end of a block, or of a statement that had no ";".
            runStatement(statement, block, summary);
            statement.clear();
            continue;
        }
        statement.push_back(line);
        const bool ends = scanLine(line, state);
        if (!block && ends) {
            runStatement(statement, block, summary);
            statement.clear();
        }
    }
    // A last statement without its terminator still runs.
    bool pending = false;
    for (const auto& l : statement)
        pending = pending || !trimmed(l).empty();
    if (pending) runStatement(statement, block, summary);
    return summary;
}

} // namespace fieldsmith::oraclient
