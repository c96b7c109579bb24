#pragma once
// Keys of one index: building them from a record image and comparing them.
//
// A key of K bytes (index descriptor offset 31): per key field in key order a
// flag byte (1 value present, 0 null) and the field's key part (zeros when
// null); then, for a non-unique index, the suffix: the key form of the
// record's auto-increment value, which makes every key unique.
//   type                         part size      key part
//   1 string                     declared + 1   the characters zero-terminated
//                                               and padded; upper-cased with the
//                                               locale for a case-insensitive
//                                               index (English (USA) without one)
//   2 date, 6 integer, 10 time   4              big-endian, sign bit inverted
//   5 small int                  2              big-endian, sign bit inverted
//   4 Boolean, 12 word           2              big-endian
//   18 large int                 8              big-endian, sign bit inverted
//   8 BCD                        8              units of 1/10000, rounded, as an
//                                               int64 big-endian, sign bit inverted
//   7 float, 11 timestamp        8              float64 big-endian, top bit set
//                                               when not negative, else every
//                                               bit inverted
//   other (9, 13, 15)            physical size  the record's value bytes
// Blob fields are never key fields. In a table without locale a descending
// field of an ascending index stores its flag and part inverted, the last
// byte of a string part excepted. Keys compare as unsigned bytes (negated
// for a descending index) without a locale; with one, strings compare by
// the locale, field by field (Compare).
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
