#include "csv/CsvExchange.h"

#include "app/run/Operations.h"
#include "csv/CsvExport.h"
#include "csv/CsvImport.h"

namespace fieldsmith::csv {

void ExecuteCsvExchange(run::RunContext& context) {
    if (context.inputs.CSVMakeTable.GenCSVFromParadox)
        exportTableToCsv(context);
    else
        importCsvFile(context);
}

void registerOperations(run::OperationTable& table) {
    table.add("ExecuteCsvExchange", ExecuteCsvExchange);
}

} // namespace fieldsmith::csv
