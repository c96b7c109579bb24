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
  h.changeCounter = GetI32(b, 0);
  h.blockSize = GetU32(b, 4);
  h.version = GetU8(b, 8);
  h.firstFree = GetI32(b, 9);
  h.nextRecord = GetI32(b, 13);
  h.lastAutoInc = GetI32(b, 17);
  h.recordSize = GetU16(b, 21);
  h.fieldCount = GetU16(b, 23);
  h.blobFieldCount = GetU16(b, 25);
  h.lastWrite = GetF64(b, 27);
  std::memcpy(h.description.data(), b + 35, 51);
  h.encrypted = GetU8(b, 86);
  std::memcpy(h.password.data(), b + 87, 16);
  h.languageId = GetU16(b, 103);
  h.sortId = GetU16(b, 105);
  h.userMajor = GetI16(b, 107);
  h.userMinor = GetI16(b, 109);
  h.modifiedMark = GetU8(b, 111);
  h.lastBlobId = GetI32(b, 112);
  h.engineVersion = GetI64(b, 116);
  std::memcpy(h.reserved.data(), b + 124, 3);
}

void EncodeDataHeader(const TDataHeader& h, uint8_t* b) {
  std::memset(b, 0, kDataHeaderSize);
  PutI32(b, 0, h.changeCounter);
  PutU32(b, 4, h.blockSize);
  PutU8(b, 8, h.version);
  PutI32(b, 9, h.firstFree);
  PutI32(b, 13, h.nextRecord);
  PutI32(b, 17, h.lastAutoInc);
  PutU16(b, 21, h.recordSize);
  PutU16(b, 23, h.fieldCount);
  PutU16(b, 25, h.blobFieldCount);
  PutF64(b, 27, h.lastWrite);
  std::memcpy(b + 35, h.description.data(), 51);
  PutU8(b, 86, h.encrypted);
  std::memcpy(b + 87, h.password.data(), 16);
  PutU16(b, 103, h.languageId);
  PutU16(b, 105, h.sortId);
  PutI16(b, 107, h.userMajor);
  PutI16(b, 109, h.userMinor);
  PutU8(b, 111, h.modifiedMark);
  PutI32(b, 112, h.lastBlobId);
  PutI64(b, 116, h.engineVersion);
  std::memcpy(b + 124, h.reserved.data(), 3);
}

void DecodeFieldDesc(const uint8_t* b, TFieldDesc& d) {
  d.number = GetU16(b, 0);
  d.name = GetShortString(b + 2, 30);
  d.description = GetShortString(b + 33, 50);
  d.type = GetU8(b, 84);
  d.subtype = GetU8(b, 85);
  d.size = GetU8(b, 86);
  d.scale = GetU8(b, 87);
  d.physicalSize = GetU8(b, 88);
  d.physicalScale = GetU8(b, 89);
  d.offset = GetU16(b, 90);
  d.required = GetU8(b, 92) != 0;
  d.charCase = GetU8(b, 93);
  d.minText = GetShortString(b + 94, 50);
  d.maxText = GetShortString(b + 145, 50);
  d.defaultText = GetShortString(b + 196, 50);
  std::memcpy(d.reserved.data(), b + 247, d.reserved.size());
}

void EncodeFieldDesc(const TFieldDesc& d, uint8_t* b) {
  std::memset(b, 0, kFieldDescSize);
  PutU16(b, 0, d.number);
  PutShortString(b + 2, 30, d.name);
  PutShortString(b + 33, 50, d.description);
  PutU8(b, 84, d.type);
  PutU8(b, 85, d.subtype);
  PutU8(b, 86, d.size);
  PutU8(b, 87, d.scale);
  PutU8(b, 88, d.physicalSize);
  PutU8(b, 89, d.physicalScale);
  PutU16(b, 90, d.offset);
  PutU8(b, 92, d.required ? 1 : 0);
  PutU8(b, 93, d.charCase);
  PutShortString(b + 94, 50, d.minText);
  PutShortString(b + 145, 50, d.maxText);
  PutShortString(b + 196, 50, d.defaultText);
  std::memcpy(b + 247, d.reserved.data(), d.reserved.size());
}

}  // namespace ledger
