#pragma once
// The index file's header page: format fields and the 33 index descriptors.
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
