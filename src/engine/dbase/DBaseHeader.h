// The header of a .DBF file: the version byte and what it says about the dialect and the
// memo file, the field descriptors of every level (III+, IV/5, 7, FoxPro), and the
// language-driver byte with the code page it stands for.
#pragma once

#include "../FieldDef.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fieldsmith::engine {
class File;
}

namespace fieldsmith::engine::dbase {

//! Which family of programs wrote the table; it decides the layout of the header and the
//! meaning of some type letters.
enum class Dialect {
    DBase,       //!< dBase III+, IV and 5: 32-byte descriptors
    DBase7,      //!< dBase 7: 48-byte descriptors, binary number types
    FoxPro,      //!< FoxPro 2.x: dBase layout, .FPT memos
    VisualFoxPro //!< Visual FoxPro: binary types, null flags, a 263-byte back link
};

enum class MemoStyle {
    None,
    DBase3, //!< 512-byte blocks, values end at 0x1A
    DBase4, //!< blocks with a length header, a free-block chain
    FoxPro, //!< .FPT: big-endian block headers
};

//! One field descriptor, as stored.
struct FieldDesc {
    std::string name; //!< as stored (table code page), without padding
    char type = 'C';
    int length = 0;
    int decimals = 0;
    int offset = 0;             //!< within the record; the deletion flag is byte 0
    std::uint8_t flags = 0;     //!< Visual FoxPro: 0x01 system, 0x02 nullable, 0x04 binary
    int nullBit = -1;           //!< Visual FoxPro: bit in _NullFlags set for null
    int varLengthBit = -1;      //!< Visual FoxPro V/Q: bit set when the last byte holds the length
    bool hidden = false;        //!< a system field (_NullFlags): not shown as a field
    std::uint32_t autoNext = 0; //!< dBase 7 autoincrement: the next value
    bool mdxFlag = false;       //!< descriptor says the field has a production-index tag
    std::size_t descriptorAt = 0; //!< offset of the descriptor in the file
};

struct Header {
    std::uint8_t version = 0;
    Dialect dialect = Dialect::DBase;
    MemoStyle memo = MemoStyle::None;
    std::uint32_t recordCount = 0; //!< as stored in the header
    std::uint16_t headerLength = 0;
    std::uint16_t recordLength = 0;
    bool productionIndex = false;    //!< dBase: byte 28, the production .MDX is to be opened
    std::uint8_t languageDriver = 0; //!< byte 29
    int codePage = 0;                //!< of the language driver; 0 = the program's
    std::vector<FieldDesc> fields;   //!< hidden ones included
    int nullFlagsField = -1;         //!< index of _NullFlags in fields, -1 for none
    //! Why changes are refused, or empty when this engine may write the table.
    std::string readOnlyReason;
};

// --- header offsets used by writers
namespace hdr {
constexpr std::size_t kDate = 1;
constexpr std::size_t kRecordCount = 4;
constexpr std::size_t kHeaderLength = 8;
constexpr std::size_t kRecordLength = 10;
constexpr std::size_t kProductionIndex = 28;
constexpr std::size_t kLanguageDriver = 29;
constexpr std::size_t kDescriptorFlag = 31; //!< in a 32-byte descriptor: has an MDX tag
} // namespace hdr

constexpr std::uint8_t kFieldTerminator = 0x0D;
constexpr std::uint8_t kEndOfFile = 0x1A;
constexpr std::uint8_t kLive = ' ';
constexpr std::uint8_t kDeleted = '*';

//! Reads and checks the header of an open .DBF. Throws a Damaged error naming the file and
//! the offset for anything inconsistent, and a General error for a format this engine does
//! not read (dBase II, FoxBASE).
Header readHeader(const File& file);

//! The code page a language-driver byte stands for; 0 when the byte is 0 or unknown (the
//! program's code page is then used).
int codePageOfLanguageDriver(std::uint8_t ld);
//! The language-driver byte new tables get for a code page (DBWINUS0 for 1252, ...); 0 for
//! a code page without one.
std::uint8_t languageDriverFor(int codePage);

//! A descriptor of a new dBase table: name, type letter, length and decimals.
struct NewField {
    std::string name;
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

//! The dBase type, length and decimals a field definition is stored with; throws naming the
//! field when the definition has no dBase equivalent.
NewField newFieldFor(const FieldDef& def, const std::string& table);

//! Header bytes of a new dBase IV table (terminator included) with no records.
std::vector<std::uint8_t> buildHeader(const std::vector<NewField>& fields, bool withMemo,
                                      std::uint8_t languageDriver);

//! Stores the date of today in header bytes 1..3 (year - 1900, month, day).
void stampDate(std::uint8_t* header);

std::uint16_t readU16(const std::uint8_t* p);
std::uint32_t readU32(const std::uint8_t* p);
void writeU16(std::uint8_t* p, std::uint16_t v);
void writeU32(std::uint8_t* p, std::uint32_t v);
std::uint32_t readU32BigEndian(const std::uint8_t* p);

} // namespace fieldsmith::engine::dbase
