#include "engine/files/data_header.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "engine/files/byte_order.h"

namespace ledger {

double LastWriteStamp(std::chrono::system_clock::time_point now) {
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const int32_t day = EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  const double fraction = (tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec) / 86400.0;
  return day + fraction - kLastWriteBias;
}

std::string GetShortString(const uint8_t* bytes, int capacity) {
  int len = std::min<int>(bytes[0], capacity);
  return std::string(reinterpret_cast<const char*>(bytes + 1), static_cast<std::size_t>(len));
}

void PutShortString(uint8_t* bytes, int capacity, std::string_view text) {
  std::size_t len = std::min<std::size_t>(text.size(), static_cast<std::size_t>(capacity));
  std::memset(bytes, 0, static_cast<std::size_t>(capacity) + 1);
  bytes[0] = static_cast<uint8_t>(len);
  if (len > 0) std::memcpy(bytes + 1, text.data(), len);
}

void DecodeDataHeader(const uint8_t* b, TDataHeader& h) {
  using namespace data_header;
  h.changeCounter = GetI32(b, kChangeCounter);
  h.blockSize = GetU32(b, kBlockSize);
  h.version = GetU8(b, kVersion);
  h.firstFree = GetI32(b, kFirstFree);
  h.nextRecord = GetI32(b, kNextRecord);
  h.lastAutoInc = GetI32(b, kLastAutoInc);
  h.recordSize = GetU16(b, kRecordSize);
  h.fieldCount = GetU16(b, kFieldCount);
  h.blobFieldCount = GetU16(b, kBlobFieldCount);
  h.lastWrite = GetF64(b, kLastWrite);
  std::memcpy(h.description.data(), b + kDescription, h.description.size());
  h.encrypted = GetU8(b, kEncrypted);
  std::memcpy(h.password.data(), b + kPassword, h.password.size());
  h.languageId = GetU16(b, kLanguageId);
  h.sortId = GetU16(b, kSortId);
  h.userMajor = GetI16(b, kUserMajor);
  h.userMinor = GetI16(b, kUserMinor);
  h.modifiedMark = GetU8(b, kModifiedMark);
  h.lastBlobId = GetI32(b, kLastBlobId);
  h.engineVersion = GetI64(b, kWriterVersion);
  std::memcpy(h.reserved.data(), b + kReserved, h.reserved.size());
}

void EncodeDataHeader(const TDataHeader& h, uint8_t* b) {
  using namespace data_header;
  std::memset(b, 0, kDataHeaderSize);
  PutI32(b, kChangeCounter, h.changeCounter);
  PutU32(b, kBlockSize, h.blockSize);
  PutU8(b, kVersion, h.version);
  PutI32(b, kFirstFree, h.firstFree);
  PutI32(b, kNextRecord, h.nextRecord);
  PutI32(b, kLastAutoInc, h.lastAutoInc);
  PutU16(b, kRecordSize, h.recordSize);
  PutU16(b, kFieldCount, h.fieldCount);
  PutU16(b, kBlobFieldCount, h.blobFieldCount);
  PutF64(b, kLastWrite, h.lastWrite);
  std::memcpy(b + kDescription, h.description.data(), h.description.size());
  PutU8(b, kEncrypted, h.encrypted);
  std::memcpy(b + kPassword, h.password.data(), h.password.size());
  PutU16(b, kLanguageId, h.languageId);
  PutU16(b, kSortId, h.sortId);
  PutI16(b, kUserMajor, h.userMajor);
  PutI16(b, kUserMinor, h.userMinor);
  PutU8(b, kModifiedMark, h.modifiedMark);
  PutI32(b, kLastBlobId, h.lastBlobId);
  PutI64(b, kWriterVersion, h.engineVersion);
  std::memcpy(b + kReserved, h.reserved.data(), h.reserved.size());
}

void DecodeFieldDesc(const uint8_t* b, TFieldDesc& d) {
  using namespace field_desc;
  d.number = GetU16(b, kNumber);
  d.name = GetShortString(b + kName, kNameChars);
  d.description = GetShortString(b + kDescription, kDescriptionChars);
  d.type = GetU8(b, kType);
  d.subtype = GetU8(b, kSubtype);
  d.size = GetU8(b, kSize);
  d.scale = GetU8(b, kScale);
  d.physicalSize = GetU8(b, kPhysicalSize);
  d.physicalScale = GetU8(b, kPhysicalScale);
  d.offset = GetU16(b, kOffset);
  d.required = GetU8(b, kRequired) != 0;
  d.charCase = GetU8(b, kCharCase);
  d.minText = GetShortString(b + kMinText, kValueTextChars);
  d.maxText = GetShortString(b + kMaxText, kValueTextChars);
  d.defaultText = GetShortString(b + kDefaultText, kValueTextChars);
  std::memcpy(d.reserved.data(), b + kReserved, d.reserved.size());
}

void EncodeFieldDesc(const TFieldDesc& d, uint8_t* b) {
  using namespace field_desc;
  std::memset(b, 0, kFieldDescSize);
  PutU16(b, kNumber, d.number);
  PutShortString(b + kName, kNameChars, d.name);
  PutShortString(b + kDescription, kDescriptionChars, d.description);
  PutU8(b, kType, d.type);
  PutU8(b, kSubtype, d.subtype);
  PutU8(b, kSize, d.size);
  PutU8(b, kScale, d.scale);
  PutU8(b, kPhysicalSize, d.physicalSize);
  PutU8(b, kPhysicalScale, d.physicalScale);
  PutU16(b, kOffset, d.offset);
  PutU8(b, kRequired, d.required ? 1 : 0);
  PutU8(b, kCharCase, d.charCase);
  PutShortString(b + kMinText, kValueTextChars, d.minText);
  PutShortString(b + kMaxText, kValueTextChars, d.maxText);
  PutShortString(b + kDefaultText, kValueTextChars, d.defaultText);
  std::memcpy(b + kReserved, d.reserved.data(), d.reserved.size());
}

}  // namespace ledger
