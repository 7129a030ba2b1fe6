// The header of a Paradox data file (.DB) and of its index files: reading with every
// check a damaged file needs, and the byte layout for writing.
#pragma once

#include "../FieldDef.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fieldsmith::engine::paradox {

// Offsets of the fixed header part.
namespace hdr {
constexpr int kRecordSize = 0x00, kHeaderSize = 0x02, kFileType = 0x04, kBlockSizeCode = 0x05,
              kNumRecords = 0x06, kUsedBlocks = 0x0A, kFileBlocks = 0x0C, kFirstBlock = 0x0E,
              kLastBlock = 0x10, kUnknown12 = 0x12, kIndexFieldNumber = 0x15,
              kWorkspace = 0x16, kIndexRoot = 0x1E, kIndexLevels = 0x20, kNumFields = 0x21,
              kNumKeyFields = 0x23, kEncryption1 = 0x25, kSortOrder = 0x29,
              kIndexStamp = 0x2C, kChangeCount1 = 0x2D, kChangeCount2 = 0x2E, kXStamp = 0x2F,
              kFileVersion = 0x39, kMaxBlocks = 0x3A, kAutoInc = 0x49, kFirstFree = 0x4D,
              kRealHeaderSize = 0x51, kIndexFlags = 0x55, kExtension = 0x58,
              kEncryption2 = 0x5C, kUpdateTime = 0x60, kHiFieldId = 0x64,
              kFieldNumbersOfs = 0x66, kIndexNameOfs = 0x68, kCodePage = 0x6A,
              kSortNameOfs = 0x6E;
}

enum FileType : std::uint8_t {
    kKeyedDb = 0,
    kPrimaryIndex = 1,
    kUnkeyedDb = 2,
    kXnnNonMaintained = 3,
    kYnn = 4,
    kXnnMaintained = 5,
    kXgNonMaintained = 6,
    kYgn = 7,
    kXgMaintained = 8,
};

struct FieldDesc {
    std::uint8_t code = 0;
    std::uint8_t size = 0; //!< the descriptor's size byte
    int width = 0;         //!< bytes in the record
    int offset = 0;        //!< position in the record
    std::string name;      //!< in the table's code page
};

//! The parsed header of a data-type file (.DB or X file).
struct Header {
    std::vector<std::uint8_t> bytes; //!< headerSize bytes as read
    int recordSize = 0;
    int headerSize = 0;
    int fileType = 0;
    int blockSize = 0;
    int version = 0;
    int numKeyFields = 0;
    int codePage = 0;
    int sortOrder = 0;
    std::uint32_t encryptionKey = 0;
    std::string indexName; //!< XGn files only
    std::string sortName;  //!< the sort order's name (level 4 and later)
    std::vector<FieldDesc> fields;
    std::vector<std::uint16_t> fieldNumbers;
};

//! Width in the record of a field with this type code and descriptor size; 0 = unknown.
int fieldWidth(std::uint8_t code, std::uint8_t size);
FieldType fieldTypeForCode(std::uint8_t code);
//! The HP Roman-8 character set of tables sorted by "BLROM800" (its IBM number).
constexpr int kHpRoman8 = 1051;

//! Code page of a table: the header's for level 4 and later, else from the sort order.
int codePageFor(int version, int codePageField, int sortOrder, const std::string& sortName);

//! What a data-type file header (.DB or X file of level 4 or later) is made of.
struct DataHeaderLayout {
    std::vector<FieldDesc> fields; //!< names in the table's code page
    int fileType = kUnkeyedDb;
    int numKeyFields = 0;
    int version = 12;
    int codePage = 1252;
    int sortOrder = 0x4C;
    std::string sortName = "DBWINUS0";
    int blockSizeCode = 4;
    std::string tableName;
    std::vector<std::uint16_t> fieldNumbers; //!< empty: 1..n
    std::string indexName;                   //!< XGn files only
    int indexFieldNumber = 0;                //!< X files: .DB number of the first field
    int changeCount1 = 2;
    int changeCount2 = 1;
    int indexStamp = 0;
    int xStamp = 0;
    int indexFlags = 0;
};

//! Composes the header of a data-type file with no blocks yet.
std::vector<std::uint8_t> buildDataHeader(const DataHeaderLayout& layout);

//! Reads and checks the header of a data-type file. Errors name the file.
Header readDataHeader(const std::filesystem::path& path, const std::vector<std::uint8_t>& head,
                      std::uint64_t fileSize);

} // namespace fieldsmith::engine::paradox
