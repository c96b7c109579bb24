#pragma once
// The data file (".DAT"): its 127-byte header and 768-byte field descriptors
// as bytes. Integers are little-endian; a shortstring[n] is a length byte and
// n character bytes, n + 1 in all, its unused tail zero.
//
// File layout
//   0                                  header, kDataHeaderSize bytes
//   127 + 768 * (i - 1)                field descriptor i, i = 1 .. field count
//   127 + 768 * field count            DataStart(): record 1
//   DataStart() + (r - 1) * rec. size  record r (record.h), r = 1 .. next record - 1
// Nothing follows the last record slot; the lock bytes lie far beyond
// (file_handler.h). The descriptor area is scrambled as one run with
// kRecordKey when the table is encrypted (scramble.h).
//
// Header (data_header::k*)
//   off  size  type             meaning
//     0     4  int32            change counter: +1 on every header write, from
//                               INT32_MAX back to 1; other processes compare it
//     4     4  uint32           blob block size; low 16 bits used, 0 stands
//                               for kDefaultBlockSize, 512 (block.h)
//     8     1  uint8            format version, kFormatVersion
//     9     4  int32            first free record: the last deleted slot, head
//                               of the free chain (record.h); 0 = none
//    13     4  int32            next record number: record slots + 1
//    17     4  int32            last auto-increment value issued
//    21     2  uint16           record size, the 9-byte record header included
//    23     2  uint16           field count, at most kMaxFields
//    25     2  uint16           blob field count, at most kMaxBlobFields
//    27     8  float64          last header write, local time in days since
//                               1899-12-30, time of day as the fraction; carried
//    35    51  shortstring[50]  description; characters scrambled with kTextKey
//                               when encrypted
//    86     1  uint8            encrypted: 1 = descriptors, records, index pages
//                               and blob blocks scrambled with kRecordKey
//    87    16  shortstring[15]  password, characters scrambled with kTextKey;
//                               empty unless encrypted
//   103     2  uint16           locale language id; 0 = no locale, keys compare
//                               as bytes
//   105     2  uint16           locale sort id (locale id = sort << 16 | language)
//   107     2  int16            user major version, carried
//   109     2  int16            user minor version, carried
//   111     1  uint8            the writer's header-modified flag; ignored on read
//   112     4  int32            last blob identifier issued
//   116     8  int64            engine version of the last writer, times 10000
//   124     3                   reserved: zero when created, kept as found
//
// Field descriptor (field_desc::k*)
//   off  size  type             meaning
//     0     2  uint16           field number: its position, 1 .. field count
//     2    31  shortstring[30]  name
//    33    51  shortstring[50]  description
//    84     1  uint8            type code (value.h)
//    85     1  uint8            subtype code (value.h), 0 = none
//    86     1  uint8            declared size: characters or bytes of string,
//                               bytes and varbytes fields (at most 250), else 0
//    87     1  uint8            declared scale: BCD digits after the point, else 0
//    88     1  uint8            physical size: value bytes in the record, derived
//                               from type and declared size (value.h)
//    89     1  uint8            physical scale: the declared scale again
//    90     2  uint16           offset of the field's null flag in the record;
//                               an auto-increment field: 5, its value (record.h)
//    92     1  uint8            required: 1 = may not be null
//    93     1  uint8            character case of strings: 0 as given, 1 lower,
//                               2 upper
//    94    51  shortstring[50]  minimum value as text; empty = none
//   145    51  shortstring[50]  maximum value as text; empty = none
//   196    51  shortstring[50]  default value as text; empty = none
//   247   521                   reserved: zero in a stored table, kept as found.
//                               Byte 252 non-zero hides the field from the
//                               dataset components (kHidden)
#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "engine/files/value.h"

namespace ledger {

inline constexpr int kDataHeaderSize = 127;
inline constexpr int kFieldDescSize = 768;
inline constexpr int kMaxFields = 1024;
inline constexpr int kMaxBlobFields = 128;
inline constexpr uint8_t kFormatVersion = 5;
inline constexpr int64_t kEngineVersion = 31700;
// Days from 0001-01-01 (day 1 of the date encoding) to 1899-12-30, the
// epoch of the last-write time.
inline constexpr double kLastWriteBias = 693594.0;

// The last-write stamp of a header written at now: the local date and time as
// days since 1899-12-30, the time of day (to the second) as fraction. Every
// writer stamps through this, so a table tells the same time whoever wrote it.
double LastWriteStamp(std::chrono::system_clock::time_point now);

namespace data_header {
inline constexpr int kChangeCounter = 0;
inline constexpr int kBlockSize = 4;
inline constexpr int kVersion = 8;
inline constexpr int kFirstFree = 9;
inline constexpr int kNextRecord = 13;
inline constexpr int kLastAutoInc = 17;
inline constexpr int kRecordSize = 21;
inline constexpr int kFieldCount = 23;
inline constexpr int kBlobFieldCount = 25;
inline constexpr int kLastWrite = 27;
inline constexpr int kDescription = 35;
inline constexpr int kEncrypted = 86;
inline constexpr int kPassword = 87;
inline constexpr int kLanguageId = 103;
inline constexpr int kSortId = 105;
inline constexpr int kUserMajor = 107;
inline constexpr int kUserMinor = 109;
inline constexpr int kModifiedMark = 111;
inline constexpr int kLastBlobId = 112;
inline constexpr int kWriterVersion = 116;
inline constexpr int kReserved = 124;

inline constexpr int kDescriptionChars = 50;
inline constexpr int kPasswordChars = 15;
inline constexpr int kReservedBytes = 3;

// Each field ends where the next begins, and the last at the header's end.
static_assert(kBlockSize == kChangeCounter + 4 && kVersion == kBlockSize + 4 &&
              kFirstFree == kVersion + 1 && kNextRecord == kFirstFree + 4 &&
              kLastAutoInc == kNextRecord + 4 && kRecordSize == kLastAutoInc + 4 &&
              kFieldCount == kRecordSize + 2 && kBlobFieldCount == kFieldCount + 2 &&
              kLastWrite == kBlobFieldCount + 2 && kDescription == kLastWrite + 8 &&
              kEncrypted == kDescription + 1 + kDescriptionChars && kPassword == kEncrypted + 1 &&
              kLanguageId == kPassword + 1 + kPasswordChars && kSortId == kLanguageId + 2 &&
              kUserMajor == kSortId + 2 && kUserMinor == kUserMajor + 2 &&
              kModifiedMark == kUserMinor + 2 && kLastBlobId == kModifiedMark + 1 &&
              kWriterVersion == kLastBlobId + 4 && kReserved == kWriterVersion + 8 &&
              kReserved + kReservedBytes == kDataHeaderSize);
}  // namespace data_header

namespace field_desc {
inline constexpr int kNumber = 0;
inline constexpr int kName = 2;
inline constexpr int kDescription = 33;
inline constexpr int kType = 84;
inline constexpr int kSubtype = 85;
inline constexpr int kSize = 86;
inline constexpr int kScale = 87;
inline constexpr int kPhysicalSize = 88;
inline constexpr int kPhysicalScale = 89;
inline constexpr int kOffset = 90;
inline constexpr int kRequired = 92;
inline constexpr int kCharCase = 93;
inline constexpr int kMinText = 94;
inline constexpr int kMaxText = 145;
inline constexpr int kDefaultText = 196;
inline constexpr int kReserved = 247;
inline constexpr int kHidden = 252;

inline constexpr int kNameChars = 30;
inline constexpr int kDescriptionChars = 50;
inline constexpr int kValueTextChars = 50;
inline constexpr int kReservedBytes = 521;

static_assert(kName == kNumber + 2 && kDescription == kName + 1 + kNameChars &&
              kType == kDescription + 1 + kDescriptionChars && kSubtype == kType + 1 &&
              kSize == kSubtype + 1 && kScale == kSize + 1 && kPhysicalSize == kScale + 1 &&
              kPhysicalScale == kPhysicalSize + 1 && kOffset == kPhysicalScale + 1 &&
              kRequired == kOffset + 2 && kCharCase == kRequired + 1 && kMinText == kCharCase + 1 &&
              kMaxText == kMinText + 1 + kValueTextChars &&
              kDefaultText == kMaxText + 1 + kValueTextChars &&
              kReserved == kDefaultText + 1 + kValueTextChars &&
              kReserved + kReservedBytes == kFieldDescSize);
static_assert(kHidden >= kReserved && kHidden < kFieldDescSize);
static_assert(std::tuple_size_v<decltype(TFieldDesc::reserved)> == kReservedBytes);
}  // namespace field_desc

struct TDataHeader {
  int32_t changeCounter = 0;
  uint32_t blockSize = 0;
  uint8_t version = kFormatVersion;
  int32_t firstFree = 0;
  int32_t nextRecord = 1;
  int32_t lastAutoInc = 0;
  uint16_t recordSize = 0;
  uint16_t fieldCount = 0;
  uint16_t blobFieldCount = 0;
  double lastWrite = 0;
  std::array<uint8_t, data_header::kDescriptionChars + 1> description{};  // as stored (scrambled when encrypted)
  uint8_t encrypted = 0;
  std::array<uint8_t, data_header::kPasswordChars + 1> password{};  // as stored, always scrambled
  uint16_t languageId = 0;
  uint16_t sortId = 0;
  int16_t userMajor = 0;
  int16_t userMinor = 0;
  uint8_t modifiedMark = 0;
  int32_t lastBlobId = 0;
  int64_t engineVersion = 0;
  std::array<uint8_t, data_header::kReservedBytes> reserved{};

  uint32_t LocaleId() const { return (uint32_t{sortId} << 16) | languageId; }
  bool operator==(const TDataHeader&) const = default;
};

void DecodeDataHeader(const uint8_t* bytes, TDataHeader& header);
void EncodeDataHeader(const TDataHeader& header, uint8_t* bytes);

void DecodeFieldDesc(const uint8_t* bytes, TFieldDesc& desc);
void EncodeFieldDesc(const TFieldDesc& desc, uint8_t* bytes);

// A shortstring of capacity n: a length byte and n character bytes. A length
// byte above the capacity is read as the capacity.
std::string GetShortString(const uint8_t* bytes, int capacity);
void PutShortString(uint8_t* bytes, int capacity, std::string_view text);

}  // namespace ledger
