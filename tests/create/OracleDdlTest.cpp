// The Oracle names, column types and statement texts of a table's copy in Oracle.
#include "create/OracleDdl.h"

#include <gtest/gtest.h>

namespace fieldsmith::create {
namespace {

using engine::FieldDef;
using engine::FieldType;
using Lines = std::vector<std::string>;

TEST(OracleNames, NameWithoutExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"ORDERS.DB", "ORDERS"}, {"A.B.DB", "A.B"}, {"NEW.ORDERS.DB", "NEW.ORDERS"},
        {"ORDERS", "ORDERS"},    {"", ""},          {"ORDERS.", "ORDERS"},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(NameWithoutExtension(name), expected) << name;
}

TEST(OracleNames, ColumnNamesReplaceHyphensAndWholeReservedWords) {
    const std::pair<const char*, const char*> cases[] = {
        {"DATE", "DAT_"},           {"date", "DAT_"},           {"User", "USE_"},
        {"TIME", "TIM_"},           {"from", "FRO_"},           {"TO", "T_"},
        {"Count", "COUN_"},         {"POSITION", "POSITIO_"},   {"left", "LEF_"},
        {"Level", "LEVE_"},         {"module", "MODUL_"},       {"DATEFROM", "DATEFROM"},
        {"PART-NO", "PART_NO"},     {"DATE-FROM", "DATE_FROM"}, {"a-b-c", "a_b_c"},
        {"Last Name", "Last Name"}, {"Straße", "Straße"},       {"TOTAL", "TOTAL"},
    };
    for (const auto& [field, column] : cases)
        EXPECT_EQ(MakeOracleColumnName(field), column) << field;
}

TEST(OracleTypes, TypesAndLengths) {
    struct Case {
        FieldType type;
        int size;
        const char* plain; //!< OracleTypeFor
        const char* type2; //!< the column's type in the statement
        const char* length;
    } cases[] = {
        {FieldType::ftString, 30, "VARCHAR2", "VARCHAR2", "(30)"},
        {FieldType::ftFixedChar, 4, "VARCHAR2", "VARCHAR2", "(4)"},
        {FieldType::ftWideString, 12, "VARCHAR2", "VARCHAR2", "(12)"},
        {FieldType::ftSmallint, 0, "FLOAT", "FLOAT", ""},
        {FieldType::ftInteger, 0, "FLOAT", "FLOAT", ""},
        {FieldType::ftLargeint, 0, "FLOAT", "FLOAT", ""},
        {FieldType::ftAutoInc, 0, "FLOAT", "FLOAT", ""},
        {FieldType::ftFloat, 0, "FLOAT", "FLOAT", ""},
        {FieldType::ftBoolean, 0, "FLOAT", "FLOAT", ""},
        {FieldType::ftDate, 0, "DATE", "DATE", ""},
        {FieldType::ftDateTime, 0, "DATE", "DATE", ""},
        {FieldType::ftTimeStamp, 0, "DATE", "DATE", ""},
        {FieldType::ftMemo, 240, "CLOB", "CLOB", ""},
        // Binary blobs keep their bytes in a BLOB.
        {FieldType::ftFmtMemo, 0, "CLOB", "BLOB", ""},
        {FieldType::ftBlob, 10, "CLOB", "BLOB", ""},
        {FieldType::ftGraphic, 0, "CLOB", "BLOB", ""},
        // Types whose column the routine leaves open.
        {FieldType::ftWord, 0, "VARCHAR2", "FLOAT", ""},
        {FieldType::ftCurrency, 0, "VARCHAR2", "FLOAT", ""},
        {FieldType::ftTime, 0, "VARCHAR2", "VARCHAR2", "(20)"},
        {FieldType::ftBCD, 2, "", "NUMBER", ""},
        {FieldType::ftBytes, 8, "", "BLOB", ""},
        {FieldType::ftVarBytes, 8, "", "BLOB", ""},
        {FieldType::ftParadoxOle, 0, "", "BLOB", ""},
        {FieldType::ftTypedBinary, 0, "", "BLOB", ""},
    };
    for (const Case& c : cases) {
        const std::string name(engine::fieldTypeName(c.type));
        EXPECT_EQ(OracleTypeFor(c.type), c.plain) << name;
        const auto column = oracleColumnTypeFor(FieldDef{"F", c.type, c.size, false});
        ASSERT_TRUE(column) << name;
        EXPECT_EQ(column->type, c.type2) << name;
        EXPECT_EQ(column->length, c.length) << name;
    }
    EXPECT_FALSE(oracleColumnTypeFor(FieldDef{"F", FieldType::ftUnknown, 0, false}));
}

TEST(OracleStatements, CreateTableLinesOfTheOrdersExample) {
    const std::vector<FieldDef> fields = {
        {"ORDERNO", FieldType::ftInteger, 0, true},
        {"DATE", FieldType::ftDate, 0, false},
        {"CUSTOMER-NAME", FieldType::ftString, 30, false},
        {"NOTES", FieldType::ftMemo, 240, false},
    };
    const Lines expected = {"CREATE TABLE SALES.ORDERS ( ",
                            "ORDERNO ",
                            "FLOAT",
                            " not null",
                            " , ",
                            "DAT_ ",
                            "DATE",
                            " null",
                            " , ",
                            "CUSTOMER_NAME ",
                            "VARCHAR2",
                            "(30)",
                            " null",
                            " , ",
                            "NOTES ",
                            "CLOB",
                            " null",
                            " constraint KR4_PI_ORDERS PRIMARY KEY (ORDERNO)",
                            " ) "};
    EXPECT_EQ(createTableLines("SALES", NameWithoutExtension("ORDERS.DB"), fields), expected);
}

TEST(OracleStatements, PrimaryKeyIsMadeOfTheRequiredFields) {
    struct Case {
        const char* what;
        std::vector<FieldDef> fields;
        Lines tail; //!< the last lines of the statement
    } cases[] = {
        {"no required field: no constraint",
         {{"A", FieldType::ftString, 5, false}, {"B", FieldType::ftInteger, 0, false}},
         {"FLOAT", " null", " ) "}},
        {"two required fields",
         {{"A", FieldType::ftString, 5, true},
          {"X", FieldType::ftInteger, 0, false},
          {"B", FieldType::ftInteger, 0, true}},
         {" not null", " constraint KR4_PI_T PRIMARY KEY (A, B)", " ) "}},
        {"a required reserved word",
         {{"Level", FieldType::ftInteger, 0, true}},
         {" not null", " constraint KR4_PI_T PRIMARY KEY (LEVE_)", " ) "}},
    };
    for (const Case& c : cases) {
        const Lines lines = createTableLines("O", "T", c.fields);
        ASSERT_GE(lines.size(), c.tail.size()) << c.what;
        EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(c.tail.size()), lines.end()),
                  c.tail)
            << c.what;
    }
}

TEST(OracleStatements, FieldWithoutColumnTypeIsRefusedByName) {
    try {
        createTableLines("O", "T", {{"ODD", FieldType::ftUnknown, 0, false}});
        FAIL() << "a field without a column type was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("ODD"), std::string::npos) << e.what();
    }
}

TEST(OracleStatements, CreateIndexLines) {
    struct Case {
        const char* what;
        const char* table;
        int j;
        std::string fields;
        const char* expected;
    } cases[] = {
        {"single reserved word", "ORDERS", 0, "DATE",
         " CREATE INDEX KR4_I_ORDERS_0 on S.ORDERS (DAT_)"},
        {"two fields", "ORDERS", 1, "DATE;TO",
         " CREATE INDEX KR4_I_ORDERS_1 on S.ORDERS (DAT_, T_)"},
        {"hyphen", "T", 12, "PART-NO", " CREATE INDEX KR4_I_T_12 on S.T (PART_NO)"},
        {"twelve fields: the first eleven", "T", 0, "A;B;C;D;E;F;G;H;I;J;K;L",
         " CREATE INDEX KR4_I_T_0 on S.T (A, B, C, D, E, F, G, H, I, J, K)"},
        {"inner dot of the table name stays", "NEW.ORDERS", 0, "A",
         " CREATE INDEX KR4_I_NEW.ORDERS_0 on S.NEW.ORDERS (A)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(createIndexLine("S", c.table, c.j, c.fields), c.expected) << c.what;
}

} // namespace
} // namespace fieldsmith::create
