// Reads a Paradox table with pxlib: the independent reader whose results the engine's are
// compared with. The blob file is never attached (pxlib 0.6.8 aborts when it is), so blob
// fields come back as their raw record bytes only.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace fieldsmith::test {

struct PxField {
    std::string name; //!< as stored, in the table's code page
    int type = 0;     //!< Paradox type code (pxfAlpha, pxfDate, ...)
    int width = 0;    //!< bytes in the record
    int decimals = 0; //!< BCD decimal places
    int offset = 0;   //!< position in the record
};

//! One field of one record as pxlib gives it.
struct PxValue {
    bool isNull = true;
    long integer = 0;  //!< Short, Long, AutoInc, Date (day number), Time (ms), Logical (0/1)
    double number = 0; //!< Number, Currency, Timestamp (ms), BCD
    std::string text;  //!< Alpha (table code page), BCD (decimal text), Bytes
};

struct PxTable {
    std::vector<PxField> fields;
    int recordCount = 0;
    int codePage = 0;  //!< as the header says; 0 in tables older than level 4
    int sortOrder = 0; //!< sort-order id of the header
    std::vector<std::vector<PxValue>> records;
    std::vector<std::string> rawRecords; //!< the stored bytes of each record
};

//! Whether pxlib gives a decoded value for this type (blob types: no, without the blob file).
bool pxlibDecodes(int type);

//! Reads the whole table; throws std::runtime_error with pxlib's messages when it cannot.
PxTable readWithPxlib(const std::filesystem::path& db);

} // namespace fieldsmith::test
