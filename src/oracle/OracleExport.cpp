#include "oracle/InsertScript.h"
#include "oracle/OracleExchange.h"
#include "oracle/OracleLogonSource.h"
#include "oracle/ScriptFiles.h"

#include "app/run/Operations.h"
#include "ops/OpsCommon.h"
#include "oraclient/OracleQuery.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace fieldsmith::oracle {

namespace {

// The text before the last dot of a name, or the whole name.
std::string NameWithoutExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// Closes the status dialog however the run ends.
struct StatusDialogScope {
    run::RunHost& host;
    ~StatusDialogScope() { host.closeStatusDialog(); }
};

std::int64_t countRows(oraclient::OracleSession& session, const std::string& from) {
    oraclient::OracleQuery count(session);
    count.setSql("SELECT COUNT(*) FROM " + from);
    count.open();
    return count.eof() ? 0 : count.value(0).whole;
}

} // namespace

void ExportOracleInserts(run::RunContext& context) {
    run::RunHost& host = context.host;
    const auto& in = context.inputs.ExportSeite;
    std::int64_t n = 0;
    host.openStatusDialog();
    StatusDialogScope dialog{host};
    host.setStatusDialogCount("0 of (unknown) records  ");
    host.processPendingMessages();

    if (in.ExportTabOwnerEdit.empty()) return host.showError("No Table Owner specified!");
    if (in.ExportTab.empty()) return host.showError("No Table specified!");
    if (in.ExportFileEdit.empty()) return host.showError("No Export file specified!");
    oraclient::OracleSession* session = oracleSession(context);
    if (!session) return;

    const std::string owner = in.ExportTabOwnerEdit;
    const std::string table = NameWithoutExtension(in.ExportTab);
    const std::string from = owner + "." + table + " ";
    // S is the number of the first row to write (the first when empty, 0 or 1); N the
    // number of rows, all from S on when empty. The walk ends at the last row, and the
    // progress counts the rows that will be written.
    const std::int32_t start =
        in.ExportStartRecEdit.empty() ? 0 : ops::requirePageInteger(in.ExportStartRecEdit);
    const std::int64_t skip = std::max<std::int64_t>(start - 1, 0);
    const std::int64_t wanted = in.ExportMaxRecEdit.empty()
                                    ? INT64_MAX
                                    : std::max(ops::requirePageInteger(in.ExportMaxRecEdit), 0);
    const std::int64_t total =
        std::min(wanted, std::max<std::int64_t>(countRows(*session, from) - skip, 0));

    oraclient::OracleQuery query(*session);
    query.setUniDirectional(true);
    query.setSql("SELECT * FROM " + from);
    query.open();
    std::vector<std::string> names;
    std::vector<oraclient::ColumnKind> kinds;
    for (int i = 0; i < query.fieldCount(); ++i) {
        names.push_back(query.fieldName(i));
        kinds.push_back(query.column(i).type.kind);
    }
    const std::string head = insertHead(owner, table, names);
    const std::string totalText = std::to_string(total);
    const auto& formats = session->formats();

    // The script goes to a file beside the target and replaces it when the walk ends, also
    // after an error in the middle: what was written so far is kept.
    ScriptFileWriter out(in.ExportFileEdit);
    std::string line;
    try {
        for (std::int64_t i = 0; i < skip && !query.eof(); ++i)
            query.next();
        while (n < total && !query.eof()) {
            line.assign(head);
            for (int i = 0; i < query.fieldCount(); ++i) {
                if (i) line += ", ";
                appendInsertValue(line, query.value(i), kinds[static_cast<std::size_t>(i)],
                                  formats);
            }
            line += " );\r\n";
            line += kRowTail;
            out.write(line);
            ++n;
            const std::string count = std::to_string(n);
            host.setStatusText(1, count + " Records of " + totalText + " copied");
            host.setStatusDialogCount(count + " of " + totalText + " records  ");
            host.processPendingMessages();
            if (host.statusDialogCancelled()) break;
            query.next();
        }
    } catch (...) {
        query.close();
        try {
            out.commit();
        } catch (const std::exception&) {
            // The error that ended the walk is the one to report.
        }
        throw;
    }
    query.close();
    out.commit();
}

} // namespace fieldsmith::oracle
