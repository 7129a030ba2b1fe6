// The demo's Oracle database: KR4 with the user KR4 (password KR4) and a sample table.
#include "DemoConfiguration.h"

#include "oraclient/EmbeddedUsers.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleQuery.h"

namespace fieldsmith::demo {

namespace fsys = std::filesystem;
using namespace fieldsmith::oraclient;

bool ensureDemoOracleDatabase(const fsys::path& dir) {
    // Files the user has are never replaced: an oracle.ini of theirs, or a KR4 database
    // that already has users, leaves everything as it is.
    if (fsys::exists(dir / "oracle.ini")) return false;
    const OracleDatabaseEntry entry = ensureEmbeddedDatabase(dir, "KR4");
    EmbeddedUsers users(entry.path);
    if (fsys::exists(entry.path / "users.ini") || fsys::exists(users.schemaFile("KR4")))
        return true;
    users.add("KR4", "KR4");

    OracleSession session(dir);
    session.setLogonUsername("KR4");
    session.setLogonPassword("KR4");
    session.setLogonDatabase("KR4");
    session.logOn();
    OracleQuery q(session);
    q.sql() = {"CREATE TABLE KR4.KUNDEN ( ",
               "ID ",
               "FLOAT",
               " not null",
               " , ",
               "NAME ",
               "VARCHAR2",
               "(30)",
               " null",
               " , ",
               "ORT ",
               "VARCHAR2",
               "(25)",
               " null",
               " , ",
               "SEIT ",
               "DATE",
               " null",
               " constraint KR4_PI_KUNDEN PRIMARY KEY (ID)",
               " ) "};
    q.open();
    q.sql() = {"SELECT T.ROWID, T.* FROM KR4.KUNDEN T "};
    q.open();
    const char* rows[][4] = {{"1", "M\xFCller", "Berlin", "2001-04-01"},
                             {"2", "Schmidt", "Hamburg", "2015-11-30"},
                             {"3", "Weber", "Oberhausen", ""}};
    for (const auto& row : rows) {
        q.insert();
        q.setFieldText("ID", row[0]);
        q.setFieldText("NAME", row[1]);
        q.setFieldText("ORT", row[2]);
        q.setFieldText("SEIT", row[3]);
        q.post();
    }
    session.commit();
    return true;
}

} // namespace fieldsmith::demo
