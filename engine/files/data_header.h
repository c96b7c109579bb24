#pragma once
// The data file's 127-byte header and 768-byte field descriptors as bytes.
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
  std::array<uint8_t, 51> description{};  // as stored (scrambled when encrypted)
  uint8_t encrypted = 0;
  std::array<uint8_t, 16> password{};  // as stored, always scrambled
  uint16_t languageId = 0;
  uint16_t sortId = 0;
  int16_t userMajor = 0;
  int16_t userMinor = 0;
  uint8_t modifiedMark = 0;
  int32_t lastBlobId = 0;
  int64_t engineVersion = 0;
  std::array<uint8_t, 3> reserved{};

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
