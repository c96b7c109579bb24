#pragma once
// One navigable view of a table: active index, position, current record,
// open blobs. Works on the table object shared by all cursors on the table.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/data_table.h"
#include "engine/core/records_bitmap.h"
#include "engine/files/blob_buffer.h"
#include "engine/files/index_file.h"
#include "engine/files/value.h"

namespace ledger {

class TDataDirectory;

// Status codes of the record operations; every other failure is raised.
inline constexpr int kStatusOk = 0;
inline constexpr int kStatusBeginning = 8705;
inline constexpr int kStatusEnd = 8706;
inline constexpr int kStatusNoCurrentRecord = 8709;

inline constexpr int kNoIndex = 255;
inline constexpr std::size_t kMaxOpenBlobs = 128;

// Asked when the table needs a password the session does not hold; it adds
// one to the session and answers true to have the list checked again, or
// answers false to give up.
using TPasswordCallback = std::function<bool()>;

class TDataCursor {
 public:
  explicit TDataCursor(TDataDirectory& directory);
  ~TDataCursor();
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // Settings, before opening. The name loses a trailing ".DAT" (any case)
  // and any directory part, and is cut to 255 characters.
  void SetTableName(std::string_view name);
  const std::string& TableName() const noexcept { return tableName_; }
  void SetExclusive(bool value) noexcept { exclusive_ = value; }
  void SetReadOnly(bool value) noexcept { readOnly_ = value; }
  void SetInMemory(bool value) noexcept { inMemory_ = value; }
  // Query results: navigate in physical order.
  void SetNoIndex(bool value) noexcept { noIndex_ = value; }
  void SetPasswordCallback(TPasswordCallback callback) { passwordCallback_ = std::move(callback); }

  void Open();
  void Close();
  bool IsOpen() const noexcept { return open_; }
  TDataDirectory& Directory() const noexcept { return directory_; }
  TDataTable* Table() const noexcept { return table_; }
  bool Exclusive() const noexcept { return exclusive_; }
  // What the table granted once open.
  bool ReadOnly() const noexcept { return readOnly_; }
  bool NoLocking() const noexcept { return noLocking_; }

  // Fields, numbered from 1. Field() and FieldNumber() raise 9985.
  int FieldCount() const noexcept;
  int RecordSize() const noexcept;
  const TFieldDesc& Field(int number) const;
  int FieldNumber(std::string_view name) const;
  // Table name, ".", field name.
  std::string FieldOrigin(int number) const;

  // Indexes: slot 0 the primary index (undefined without one), 1-30
  // secondary. Switching raises 10022 for an unknown name.
  int SecondaryIndexCount() const noexcept;
  const TIndexDesc& IndexDescriptor(int slot) const;
  int ActiveIndex() const noexcept;
  const TIndexDesc& ActiveIndexDescriptor() const;
  void SwitchToIndex(std::string_view name);
  bool PhysicalOrder() const noexcept;
  bool BitmapMode() const noexcept;
  // 4 in physical order, else the active index's key length.
  int BookmarkSize() const noexcept;

  // Navigation.
  void SetToBeginning();
  void SetToEnd();
  // Each delivers the record image into buffer (RecordSize() bytes) and
  // answers a status code; the buffer is blanked unless the status is 0.
  int Next(uint8_t* buffer);
  int Prior(uint8_t* buffer);
  int Current(uint8_t* buffer);
  // Answers whether the record number reached equals n.
  bool GoToPosition(int32_t n);
  int32_t Position() const noexcept;
  // The record number the dataset sees.
  int32_t RecordNumber() const noexcept;
  int32_t RecordCount();
  bool AtBeginning() const noexcept;
  bool AtEnd() const noexcept;
  // The last record image read.
  std::span<const uint8_t> CurrentRecord() const noexcept { return current_; }

  // Keys of the active index.
  void BuildKey(std::span<const uint8_t> image, uint8_t* key) const;
  // keyFields: how many leading key fields the key holds.
  bool FindKey(const uint8_t* key, int keyFields, int partialLength = 0);

  // Field values of a record image. GetField copies the value bytes
  // (physical size) and answers false for null.
  bool GetField(int number, std::span<const uint8_t> image, uint8_t* value) const;
  TFieldValue FieldValue(int number, std::span<const uint8_t> image) const;
  void PutField(int number, std::span<uint8_t> image, const TFieldValue& value) const;
  void BlankRecord(std::span<uint8_t> image) const;

  // Bookmarks (BookmarkSize() bytes).
  std::vector<uint8_t> Bookmark() const;
  bool GoToBookmark(const uint8_t* bookmark, bool restore = false);
  int CompareBookmarks(const uint8_t* a, const uint8_t* b) const;

  // Re-reads the headers whatever the session says and goes back to the
  // current record.
  void Refresh();

  // Blobs of one record image; each answers a status code (0, 10753,
  // 10030, 9998, 9494, 8711) rather than raising it.
  int OpenBlob(int field, std::span<uint8_t> image, TBlobOpenMode mode, uint32_t& size);
  int ReadBlob(int field, std::span<const uint8_t> image, uint32_t offset, uint32_t count,
               uint8_t* destination, uint32_t& copied);
  int BlobSize(int field, std::span<const uint8_t> image, uint32_t& size);
  // The whole blob into out, read from its chain with no copy in between and
  // nothing left open; a blob the image has open comes from its buffer.
  int ReadWholeBlob(int field, std::span<const uint8_t> image, std::vector<uint8_t>& out);
  int ReleaseBlob(int field, std::span<uint8_t> image);
  std::size_t OpenBlobCount() const noexcept;

  // Raises a status code with this table's context.
  [[noreturn]] void RaiseStatus(int code, std::string_view field = {}) const;

 private:
  struct TImpl;

  TDataDirectory& directory_;
  std::string tableName_;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool inMemory_ = false;
  bool noIndex_ = false;
  bool noLocking_ = false;
  bool open_ = false;
  TPasswordCallback passwordCallback_;
  TDataTable* table_ = nullptr;
  std::vector<uint8_t> current_;
  TChangeSnapshot snapshot_;
  std::unique_ptr<TImpl> impl_;  // view, position, open blobs and fields
};

}  // namespace ledger
