#include "DBaseTestSupport.h"

#include "engine/CodePage.h"

#include <array>
#include <cstdio>
#include <stdexcept>
#include <sys/wait.h>

#ifndef FIELDSMITH_DBF_TOOL
#define FIELDSMITH_DBF_TOOL ""
#endif

namespace fieldsmith::test {

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// The Python interpreter that has the dbf module: Debian's own, also when another python3
// comes first in the PATH.
const std::string& python() {
    static const std::string found = [] {
        for (const char* candidate : {"/usr/bin/python3", "python3"})
            if (runCommand(std::string(candidate) + " -c 'import dbf' 2>/dev/null").status == 0)
                return std::string(candidate);
        return std::string();
    }();
    return found;
}

std::vector<ReaderRow> parseRows(const std::string& text) {
    std::vector<ReaderRow> rows;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.empty()) continue;
        ReaderRow row;
        row.deleted = line[0] == '*';
        std::size_t p = line.find('\x1f');
        while (p != std::string::npos) {
            const std::size_t q = line.find('\x1f', p + 1);
            row.values.push_back(
                line.substr(p + 1, q == std::string::npos ? std::string::npos : q - p - 1));
            p = q;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string tool(const std::string& args) {
    const CommandResult r =
        runCommand(python() + " " + quoted(FIELDSMITH_DBF_TOOL) + " " + args + " 2>&1");
    if (r.status != 0) throw std::runtime_error("dbf_tool.py " + args + " failed: " + r.output);
    return r.output;
}

} // namespace

CommandResult runCommand(const std::string& command) {
    CommandResult r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        r.output.append(buf.data(), n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string missingPythonDbf() {
    return python().empty() ? "Python's dbf module is not installed (Debian package python3-dbf)"
                            : "";
}

std::string missingDbfread() {
    if (!missingPythonDbf().empty()) return missingPythonDbf();
    return runCommand(python() + " -c 'import dbfread' 2>/dev/null").status == 0
               ? ""
               : "dbfread is not installed (Debian package python3-dbfread)";
}

std::string missingDbview() {
    return runCommand("command -v dbview >/dev/null 2>&1").status == 0
               ? ""
               : "dbview is not installed (Debian package dbview)";
}

std::string missingPerlXBase() {
    return runCommand("perl -MXBase::Index -e 1 2>/dev/null").status == 0
               ? ""
               : "Perl's XBase is not installed (Debian package libdbd-xbase-perl)";
}

void makeFixtures(const fs::path& dir) {
    tool("make " + quoted(dir.string()));
}

std::vector<ReaderRow> readWithPythonDbf(const fs::path& dbf) {
    return parseRows(tool("dbf " + quoted(dbf.string())));
}

std::vector<ReaderRow> readWithDbfread(const fs::path& dbf) {
    return parseRows(tool("dbfread " + quoted(dbf.string())));
}

std::vector<ReaderRow> readWithDbview(const fs::path& dbf, const std::string& codePage) {
    const CommandResult r = runCommand("dbview -b -t -D -d '|' " + quoted(dbf.string()) + " 2>&1");
    if (r.status != 0) throw std::runtime_error("dbview failed: " + r.output);
    std::vector<ReaderRow> rows;
    std::size_t at = 0;
    const int cp = std::stoi(codePage);
    while (at < r.output.size()) {
        std::size_t end = r.output.find('\n', at);
        if (end == std::string::npos) end = r.output.size();
        const std::string line = engine::toUtf8(r.output.substr(at, end - at), cp);
        at = end + 1;
        if (line.size() < 2) continue;
        ReaderRow row;
        row.deleted = line[0] == '*';
        std::size_t p = 1; // after the flag comes the first delimiter
        while (p < line.size()) {
            const std::size_t q = line.find('|', p + 1);
            if (q == std::string::npos) break;
            std::string v = line.substr(p + 1, q - p - 1);
            while (!v.empty() && v.back() == ' ')
                v.pop_back();
            while (!v.empty() && v.front() == ' ')
                v.erase(0, 1);
            row.values.push_back(v);
            p = q;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::uint32_t> tagOrderWithPerl(const fs::path& mdx, const std::string& tag) {
    const std::string script =
        "my $i = XBase::Index->new($ARGV[0], tag => $ARGV[1]) or die XBase::Index->errstr;"
        "$i->prepare_select; while (my ($k, $v) = $i->fetch) { print \"$v\\n\"; }";
    const CommandResult r = runCommand("perl -MXBase::Index -e " + quoted(script) + " " +
                                       quoted(mdx.string()) + " " + quoted(tag) + " 2>&1");
    if (r.status != 0) throw std::runtime_error("XBase::Index failed: " + r.output);
    std::vector<std::uint32_t> order;
    std::size_t at = 0;
    while (at < r.output.size()) {
        std::size_t end = r.output.find('\n', at);
        if (end == std::string::npos) end = r.output.size();
        if (end > at)
            order.push_back(static_cast<std::uint32_t>(std::stoul(r.output.substr(at, end - at))));
        at = end + 1;
    }
    return order;
}

std::vector<std::vector<std::string>> readWithEngine(engine::Table& table) {
    std::vector<std::vector<std::string>> rows;
    for (table.first(); !table.eof(); table.next()) {
        std::vector<std::string> row;
        for (int i = 0; i < table.fieldCount(); ++i)
            row.push_back(
                engine::toUtf8(table.field(i).asString(), table.session().ansiCodePage()));
        rows.push_back(std::move(row));
        if (rows.size() > 100000) break;
    }
    return rows;
}

std::unique_ptr<engine::Table> tableOn(engine::Session& session, const fs::path& file,
                                       bool exclusive) {
    auto t = std::make_unique<engine::Table>(session);
    t->setTableName(file.string());
    t->setExclusive(exclusive);
    return t;
}

std::string ansi(const std::string& utf8) {
    return engine::fromUtf8(utf8, 1252);
}

} // namespace fieldsmith::test
