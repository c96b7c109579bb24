#pragma once
// The index file (".IDX"): its header page, with the 33 index descriptors.
// Integers are little-endian; a shortstring[n] is a length byte and n
// characters, n + 1 bytes in all.
//
// File layout: page p at p * 4096; page 0 is the header, pages 1 .. next
// page - 1 hold the trees of every index in one numbering (index_page.h).
// Each page, the header included, is scrambled whole with kRecordKey when
// the table is encrypted (scramble.h).
//
// Header (index_header::k*)
//   off   size  type    meaning
//      0     4  int32   change counter: +1 on every header write, from
//                       INT32_MAX back to 1; other processes compare it
//      4     4          reserved: ignored on read, written zero
//      8     1  uint8   format version, kIndexVersion
//      9     4  int32   next page number; 1 in an empty file
//     13     1  uint8   secondary index count, at most 30: slots 1 .. count
//     14  3960          33 index descriptors of 120 bytes, slot i at 14 + 120 * i:
//                       0 primary, 1-30 secondary, 31 record status, 32 text
//   3974     4  int32   active record count: records not deleted
//   3978     1  uint8   1 = the table has no primary key; records stay in
//                       physical order
//   3979     1  uint8   the writer's header-modified flag; ignored on read
//   3980   116          reserved: ignored on read, written zero
//
// Index descriptor (index_desc::k*)
//   off  size  type             meaning
//     0    31  shortstring[30]  name; empty for the primary index
//    31     2  uint16           key length K (index_key.h); 0 = slot undefined
//    33     1  uint8            1 = the whole index descending
//    34     1  uint8            1 = strings compared without case (keys hold
//                               them upper-cased)
//    35     1  uint8            1 = unique keys; always for a primary key
//    36     1  uint8            leaf compression, TLeafCompression (the entry
//                               layouts are in index_page.h)
//    37     1  uint8            key field count, at most 16
//    38    16  uint8[16]        per key field: 1 = that field descending
//    54    32  uint16[16]       key field numbers in key order; unused 0
//    86     4  int32            root page; 0 = the index holds no key
//    90     4  int32            first free page of this index, head of its
//                               chain through the pages' next links; 0 = none
//    94     2                   reserved: ignored on read, written zero
//    96     4  int32            first parameter page (slot 32 only), else 0
//   100     1  uint8            1 = branch entries carry no key counts (slot 32
//                               never carries them, whatever this says)
//   101     1  uint8            1 = being built; never in a stored header
//   102    18                   reserved: ignored on read, written zero
// Slot 31 "Sys Deleted": K = 5, a record's status byte and the key form of
// its auto-increment value, compared as bytes, uncompressed; every record
// slot has an entry. Slot 32 "Sys Text": K = 68, full compression; this
// engine writes no pages for it.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/files/value.h"

namespace ledger {

inline constexpr int kIndexPageSize = 4096;
inline constexpr int kIndexVersion = 5;
inline constexpr int kIndexSlots = 33;
inline constexpr int kMaxSecondaryIndexes = 30;
inline constexpr int kSlotDeleted = 31;
inline constexpr int kSlotText = 32;
inline constexpr int kMaxKeyFields = 16;
inline constexpr int kMaxKeyPartsSize = 522;
inline constexpr int kDescriptorSize = 120;
inline constexpr int kDescriptorOffset = 14;
inline constexpr int kDeletedKeyLength = 5;
inline constexpr int kTextKeyLength = 68;

namespace index_header {
inline constexpr int kChangeCounter = 0;
inline constexpr int kReservedAfterCounter = 4;
inline constexpr int kVersion = 8;
inline constexpr int kNextPage = 9;
inline constexpr int kSecondaryCount = 13;
inline constexpr int kDescriptors = 14;
inline constexpr int kActiveRecords = 3974;
inline constexpr int kNoPrimary = 3978;
inline constexpr int kModifiedMark = 3979;
inline constexpr int kReserved = 3980;
inline constexpr int kReservedBytes = 116;

static_assert(kReservedAfterCounter == kChangeCounter + 4 && kVersion == kReservedAfterCounter + 4 &&
              kNextPage == kVersion + 1 && kSecondaryCount == kNextPage + 4 &&
              kDescriptors == kSecondaryCount + 1 &&
              kActiveRecords == kDescriptors + kIndexSlots * kDescriptorSize &&
              kNoPrimary == kActiveRecords + 4 && kModifiedMark == kNoPrimary + 1 &&
              kReserved == kModifiedMark + 1 && kReserved + kReservedBytes == kIndexPageSize);
}  // namespace index_header

static_assert(kDescriptorOffset == index_header::kDescriptors);
static_assert(kSlotText == kIndexSlots - 1 && kSlotDeleted == kSlotText - 1 &&
              kMaxSecondaryIndexes < kSlotDeleted);

namespace index_desc {
inline constexpr int kName = 0;
inline constexpr int kKeyLength = 31;
inline constexpr int kDescending = 33;
inline constexpr int kCaseInsensitive = 34;
inline constexpr int kUnique = 35;
inline constexpr int kCompression = 36;
inline constexpr int kFieldCount = 37;
inline constexpr int kFieldDescending = 38;
inline constexpr int kFields = 54;
inline constexpr int kRootPage = 86;
inline constexpr int kFirstFreePage = 90;
inline constexpr int kReservedAfterFreePage = 94;
inline constexpr int kParamPage = 96;
inline constexpr int kNoCounts = 100;
inline constexpr int kBeingBuilt = 101;
inline constexpr int kReserved = 102;

inline constexpr int kNameChars = 30;
inline constexpr int kReservedBytes = 18;

static_assert(kKeyLength == kName + 1 + kNameChars && kDescending == kKeyLength + 2 &&
              kCaseInsensitive == kDescending + 1 && kUnique == kCaseInsensitive + 1 &&
              kCompression == kUnique + 1 && kFieldCount == kCompression + 1 &&
              kFieldDescending == kFieldCount + 1 && kFields == kFieldDescending + kMaxKeyFields &&
              kRootPage == kFields + 2 * kMaxKeyFields && kFirstFreePage == kRootPage + 4 &&
              kReservedAfterFreePage == kFirstFreePage + 4 && kParamPage == kReservedAfterFreePage + 2 &&
              kNoCounts == kParamPage + 4 && kBeingBuilt == kNoCounts + 1 &&
              kReserved == kBeingBuilt + 1 && kReserved + kReservedBytes == kDescriptorSize);
}  // namespace index_desc

enum TLeafCompression : uint8_t { lcNone = 0, lcDuplicate = 1, lcTrailing = 2, lcFull = 3 };

struct TIndexDesc {
  std::string name;  // at most 30 characters
  uint16_t keyLength = 0;  // 0: the slot is undefined
  bool descending = false;
  bool caseInsensitive = false;
  bool unique = false;
  uint8_t compression = lcNone;
  uint8_t fieldCount = 0;
  std::array<uint8_t, kMaxKeyFields> fieldDescending{};
  std::array<uint16_t, kMaxKeyFields> fields{};  // field numbers, 1-based
  int32_t rootPage = 0;
  int32_t firstFreePage = 0;
  int32_t paramPage = 0;
  bool noCounts = false;
  bool beingBuilt = false;

  bool Defined() const noexcept { return keyLength != 0; }
  void Encode(uint8_t* out) const;  // kDescriptorSize bytes
  static TIndexDesc Decode(const uint8_t* in);
  bool operator==(const TIndexDesc&) const = default;
};

struct TIndexHeader {
  int32_t changeCounter = 0;
  uint8_t version = kIndexVersion;
  int32_t nextPage = 1;
  uint8_t secondaryCount = 0;
  std::array<TIndexDesc, kIndexSlots> slots{};
  int32_t activeRecords = 0;
  bool noPrimary = false;
  bool modifiedMark = false;

  // A header of a new, empty index file: the two system slots preset.
  static TIndexHeader Fresh();
  void Encode(uint8_t* out) const;  // kIndexPageSize bytes
  static TIndexHeader Decode(const uint8_t* in);
};

// Bytes a field takes in a key (its flag byte not counted); 0 for a blob.
int KeyPartSize(const TFieldDesc& field);

// Sum of (key part size + 1) over the descriptor's fields plus the suffix of
// a non-unique index; -1 when a field number names no field of the list.
int ComputeKeyLength(const TIndexDesc& desc, const std::vector<TFieldDesc>& fields);

// The structure check of an opened header against the data file's fields:
// empty text when sound, else what is wrong (the caller raises).
std::string CheckIndexHeader(const TIndexHeader& header, const std::vector<TFieldDesc>& fields);

}  // namespace ledger
