#pragma once
// Keys of one index: building them from a record image and comparing them.
#include <cstdint>
#include <span>
#include <vector>

#include "engine/files/index_header.h"
#include "engine/files/value.h"

namespace ledger {

class TKeyDef {
 public:
  TKeyDef() = default;
  // fields: the data file's fields (numbers are 1-based positions);
  // lcid: the table's locale, 0 without one. Throws std::invalid_argument when
  // the descriptor names a missing or blob field (the header check comes first).
  TKeyDef(int slot, const TIndexDesc& desc, const std::vector<TFieldDesc>& fields, uint32_t lcid);

  int Slot() const noexcept { return slot_; }
  int KeyLength() const noexcept { return keyLength_; }
  bool Unique() const noexcept { return unique_; }
  bool Descending() const noexcept { return descending_; }
  uint32_t LocaleId() const noexcept { return lcid_; }

  // Writes KeyLength() bytes for the record image.
  void Build(std::span<const uint8_t> image, uint8_t* key) const;
  // Key parts from field values (monostate = null), in key order, plus the
  // auto-increment value for the suffix of a non-unique index.
  void BuildFromValues(std::span<const TFieldValue> values, int32_t autoInc, uint8_t* key) const;

  // -1, 0 or 1 over the first n bytes (n <= KeyLength()).
  int Compare(const uint8_t* a, const uint8_t* b, int n) const;
  int Compare(const uint8_t* a, const uint8_t* b) const { return Compare(a, b, keyLength_); }

 private:
  struct TPart {
    TFieldDesc field;
    int size = 0;  // key part size, flag byte not counted
    bool descending = false;
  };
  void PutPart(const TPart& part, const TFieldValue& value, uint8_t* out) const;

  int slot_ = 0;
  int keyLength_ = 0;
  bool unique_ = true;
  bool descending_ = false;
  bool caseInsensitive_ = false;
  uint32_t lcid_ = 0;
  std::vector<TPart> parts_;
};

// The 4-byte key form of a signed 32-bit value: big-endian, sign bit inverted.
void PutKeyInt32(uint8_t* out, int32_t value);
// The auto-increment value stored in a record image (bytes 5-8).
int32_t RecordAutoInc(std::span<const uint8_t> image);

}  // namespace ledger
