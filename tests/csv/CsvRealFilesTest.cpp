// Files as other programs write them: a spreadsheet's UTF-8 export, a DOS program's file in
// code page 850, and a Unix tool's output with line feeds only.
#include "CsvTestSupport.h"

#include <gtest/gtest.h>

namespace fieldsmith::csvtest {
namespace {

using Fields = std::vector<std::string>;

class CsvRealFiles : public CsvRun {
protected:
    TableContent importFixture(const char* name, const char* separator) {
        inputs.CSVMakeTable.FeldSeparEdit = separator;
        session.conversionLosses() = 0;
        import(std::filesystem::path(FIELDSMITH_CSV_TESTDATA) / name);
        EXPECT_EQ(errors(), Fields{}) << name;
        return readTable(session, dir / "T.DB");
    }
    static Fields names(const TableContent& t) {
        Fields out;
        for (const auto& f : t.fields)
            out.push_back(f.name);
        return out;
    }
};

TEST_F(CsvRealFiles, SpreadsheetExportInUtf8WithCommasAndLineBreaksInQuotes) {
    const auto t = importFixture("spreadsheet-export.csv", ",");
    EXPECT_EQ(names(t), (Fields{"Kunde",
                                "Stra\xDF"
                                "e",
                                "Betrag", "Notiz"}));
    EXPECT_EQ(t.records, (Records{{"M\xFCller GmbH",
                                   "Hauptstra\xDF"
                                   "e 5",
                                   "1.234,50", ""},
                                  {"Schmidt, Anna", "K\xF6nigsallee 12", "99,00",
                                   "R\xFC"
                                   "ckruf erbeten:\r\nbitte vormittags"},
                                  {"Caf\xE9 Ol\xE9", "Rue de l'\xC9glise 3", "12,00",
                                   "Sagte: \"sofort liefern\""},
                                  {"?\xF3"
                                   "d? Sp. z o.o.",
                                   "ul. Piotrkowska 1", "5,00", "\x80 und \x99"}}));
    EXPECT_EQ(session.conversionLosses(), 2u) << "the two Polish letters Windows-1252 lacks";
}

TEST_F(CsvRealFiles, DosFileInCodePage850) {
    const auto t = importFixture("dos-850.csv", ";");
    EXPECT_EQ(names(t), (Fields{"Name", "Ort", "Bemerkung"}));
    EXPECT_EQ(t.records, (Records{{"M\xFCller", "K\xF6ln",
                                   "Stra\xDF"
                                   "e gesperrt"},
                                  {"\xD8ster", "\xC5rhus",
                                   "Gr\xF6\xDF"
                                   "e L"},
                                  {"\xC7"
                                   "elik",
                                   "Besan\xE7on", "A;B"}}));
    EXPECT_EQ(session.conversionLosses(), 0u);
}

TEST_F(CsvRealFiles, UnixFileWithLineFeedsOnly) {
    const auto t = importFixture("unix-lf.csv", ";");
    EXPECT_EQ(describeFields(t.fields), (Fields{"id string 6", "name string 13", "city string 9"}));
    EXPECT_EQ(t.records,
              (Records{{"1", "Anna", "Bonn"}, {"2", "Bernd", ""}, {"3", "Carl; Jr.", "Celle"}}));
}

} // namespace
} // namespace fieldsmith::csvtest
