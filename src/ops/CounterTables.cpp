#include "CounterTables.h"

#include "app/run/RunHost.h"
#include "engine/EngineError.h"
#include "engine/Table.h"

#include <cctype>

namespace fieldsmith::ops {

const std::array<std::string, 16>& keyNames() {
    static const std::array<std::string, 16> names = {"BRUKO", "DORVA", "FASO", "GEPS", "HUX",  "JEK",
                                                      "MIKU",  "NUBE",  "QEMB", "QZ",   "RAPO", "SOLVI",
                                                      "TAVO",  "WIRGO", "YUSK", "ZOLF"};
    return names;
}

CounterNames counterNamesFor(std::string_view keyName) {
    CounterNames n;
    for (char c : keyName) n.table += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    n.table += "MAX.DB";
    const std::string key(keyName);
    n.field = key + "MAX";
    // Tables whose counter field does not follow the pattern.
    if (n.table == "QEMBMAX.DB" || n.table == "WIRGOMAX.DB" || n.table == "DORVAMAX.DB" ||
        n.table == "MIKUMAX.DB" || n.table == "TAVOMAX.DB" || n.table == "BRUKOMAX.DB" ||
        n.table == "HUXMAX.DB" || n.table == "SOLVIMAX.DB")
        n.field = key;
    if (n.table == "NUBEMAX.DB") n.field = "ID";
    if (n.table == "QZMAX.DB") n.field = "QZNRMAX";
    return n;
}

void openCounterTable(run::RunHost& host, engine::Table& primTable, std::string_view keyName) {
    const CounterNames names = counterNamesFor(keyName);
    primTable.close();
    primTable.setDatabaseName("KESTREL");
    primTable.setTableName(names.table);
    primTable.setIndexFieldNames("");
    primTable.setExclusive(true);
    for (;;) {
        try {
            primTable.open();
            return;
        } catch (const engine::EngineError& e) {
            if (!e.isDatabaseError() ||
                !host.askRetry("Cannot open \"" + names.table + "\" exclusive - OK to try again?"))
                throw;
        }
    }
}

std::int64_t GetNewNumber(engine::Table& primTable, std::string_view keyName) {
    const CounterNames names = counterNamesFor(keyName);
    engine::Field counter = primTable.fieldByName(names.field);
    const std::int64_t value = counter.asInteger() + 1;
    primTable.edit();
    counter.setAsInteger(value);
    if (primTable.state() == engine::DataSetState::Edit || primTable.state() == engine::DataSetState::Insert)
        primTable.post();
    return value;
}

void closeCounterTable(engine::Table& primTable) {
    primTable.close();
    primTable.setExclusive(false);
}

} // namespace fieldsmith::ops
