#pragma once
// Field descriptors and the encoding of field values inside a record image.
//
// Strings are single-byte characters (ISO 8859-1): a declared size counts
// bytes and characters alike, and case mapping goes through the table's locale.
//
// Field values by type code (descriptor offset 84; the record layout is in
// record.h, the descriptor in data_header.h). Integers little-endian.
//   code  type        physical size    value bytes
//     1   string      declared + 1     characters, a zero byte after the last,
//                                      zero padded; stored trimmed of trailing
//                                      blanks and in the field's case; empty =
//                                      null. Subtype 31: fixed-length string
//     2   date        4                int32 day number, 0001-01-01 = day 1
//     3   blob        8                int32 first block in the blob file, 0 =
//                                      empty; int32 blob identifier (blob_ref)
//     4   Boolean     2                uint16, 0 false, 1 true (non-zero read true)
//     5   small int   2                int16
//     6   integer     4                int32; subtype 29: auto-increment, kept
//                                      in the record header (record.h)
//     7   float       8                float64; subtype 21: money
//     8   BCD         34               precision byte, sign (bit 7) and places
//                                      (bits 0-5) byte, 32 bytes of packed
//                                      decimal digits, most significant first
//     9   bytes       declared         the bytes as given, zero padded
//    10   time        4                int32 milliseconds since midnight
//    11   timestamp   8                float64: day number * 86400000 +
//                                      milliseconds of the day
//    12   word        2                uint16
//    13   long word   4                uint32
//    15   varbytes    declared         the bytes as given, zero padded
//    18   large int   8                int64
// Other codes (0, 14, 16, 17 and the rest) have no stored form: a table using
// them fails the structure check. A blob's subtype says what it holds (22
// memo, 23 binary, 24 formatted memo, 25 and 27 OLE, 26 graphic, 28 typed
// binary); the bytes are the same for all of them.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/files/record.h"

namespace ledger {

enum TFieldType : uint8_t {
  ftString = 1,
  ftDate = 2,
  ftBlob = 3,
  ftBoolean = 4,
  ftSmallInt = 5,
  ftInteger = 6,
  ftFloat = 7,
  ftBCD = 8,
  ftBytes = 9,
  ftTime = 10,
  ftTimeStamp = 11,
  ftWord = 12,
  ftLongWord = 13,
  ftVarBytes = 15,
  ftLargeInt = 18,
};

enum TFieldSubtype : uint8_t {
  fstNone = 0,
  fstMoney = 21,
  fstMemo = 22,
  fstBinary = 23,
  fstFormattedMemo = 24,
  fstOle = 25,
  fstGraphic = 26,
  fstDbaseOle = 27,
  fstTypedBinary = 28,
  fstAutoInc = 29,
  fstFixedChar = 31,
};

enum TCharCase : uint8_t { ccUnchanged = 0, ccLower = 1, ccUpper = 2 };

inline constexpr int kMaxDeclaredSize = 250;

// A blob reference: the value bytes of a blob field.
namespace blob_ref {
inline constexpr int kFirstBlock = 0;
inline constexpr int kBlobId = 4;
inline constexpr int kSize = 8;
static_assert(kBlobId == kFirstBlock + 4 && kSize == kBlobId + 4);
}  // namespace blob_ref

// One field descriptor as stored (768 bytes on disk, data_header.h).
struct TFieldDesc {
  uint16_t number = 0;
  std::string name;
  std::string description;
  uint8_t type = 0;
  uint8_t subtype = 0;
  uint8_t size = 0;   // declared size
  uint8_t scale = 0;  // declared scale
  uint8_t physicalSize = 0;
  uint8_t physicalScale = 0;
  uint16_t offset = 0;
  bool required = false;
  uint8_t charCase = ccUnchanged;
  std::string minText;
  std::string maxText;
  std::string defaultText;
  std::array<uint8_t, 521> reserved{};

  bool IsAutoInc() const { return type == ftInteger && subtype == fstAutoInc; }
  // Where the value starts in a record image: after the null flag at offset.
  // REQUIRES: !IsAutoInc(); that value sits in the record header.
  std::size_t ValueOffset() const { return std::size_t{offset} + 1; }
};

// Bytes the value of a field occupies in the record (without its null flag);
// -1 for type codes that have no stored form here.
int PhysicalSizeOf(uint8_t type, uint8_t declaredSize);

// True when the field's flag and value lie inside an image of imageSize bytes.
bool FieldFits(const TFieldDesc& desc, std::size_t imageSize);

// The 34-byte decimal record: precision, sign (bit 7) and places (bits 0-5),
// then packed decimal digits, most significant first.
struct TBcd {
  uint8_t precision = 0;
  uint8_t signSpecialPlaces = 0;
  std::array<uint8_t, 32> fraction{};
  bool operator==(const TBcd&) const = default;
};
bool BcdFromText(std::string_view text, TBcd& out);
std::string BcdToText(const TBcd& bcd);

struct TBlobRef {
  int32_t firstBlock = 0;
  int32_t blobId = 0;
  bool operator==(const TBlobRef&) const = default;
};

// A field value as the record holds it. Dates are day numbers (0001-01-01 is
// day 1), times milliseconds since midnight, timestamps milliseconds as a
// float64; every integer type travels as int64.
using TFieldValue = std::variant<std::monostate, std::string, bool, int64_t, double, TBcd,
                                 std::vector<uint8_t>, TBlobRef>;

// Reads a field; std::monostate when it is null. The field must fit the image.
TFieldValue ReadValue(std::span<const uint8_t> image, const TFieldDesc& desc);

// Writes a field with the writer's value rules (strings trimmed, case mapped
// with the locale lcid, cut to size, empty = null; any true Boolean as 1; a
// blob reference is null when it names no block). Throws std::invalid_argument
// for a value of the wrong kind or out of the type's range.
void WriteValue(std::span<uint8_t> image, const TFieldDesc& desc, const TFieldValue& value,
                uint32_t lcid);

// Calendar helpers for the date encodings.
int32_t EncodeDate(int year, int month, int day);  // 0 when invalid
bool DecodeDate(int32_t dayNumber, int& year, int& month, int& day);

// Whether text is a valid minimum, maximum or default value of the field.
bool IsValidValueText(const TFieldDesc& desc, std::string_view text);

// Locale identifiers (sort id << 16 | language id) and what stands for them.
std::string LocaleName(uint32_t lcid);  // 0 -> English (USA); empty when unknown
bool IsLocaleInstalled(uint32_t lcid);
std::string MapCase(std::string_view latin1, uint8_t charCase, uint32_t lcid);

}  // namespace ledger
