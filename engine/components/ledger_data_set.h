#pragma once
// Datasets over one engine cursor: record buffers, field values, navigation
// and blobs (TLedgerDataSet), and the database reference of a dataset that
// names its database (TLedgerDBDataSet).
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "dataset/data_set.h"
#include "engine/public/cursor.h"

namespace ledger {

class TLedgerBlobStream;
class TLedgerDatabase;
class TLedgerSession;
class TLedgerSessionList;

class TLedgerDataSet : public dataset::TDataSet {
 public:
  TLedgerDataSet();
  ~TLedgerDataSet() override;

  std::string EngineVersion() const;
  void SetEngineVersion(const std::string&) noexcept {}
  // Each field's label from the description stored with it in the table.
  bool AutoDisplayLabels() const noexcept { return autoDisplayLabels_; }
  void SetAutoDisplayLabels(bool value) noexcept { autoDisplayLabels_ = value; }
  bool CopyOnAppend() const noexcept { return copyOnAppend_; }
  void SetCopyOnAppend(bool value) noexcept { copyOnAppend_ = value; }

  // The open cursor, null while closed.
  TDataCursor* Handle() const noexcept { return cursor_.get(); }
  // The shown record's value of a field as the engine stores it (monostate
  // for null or when no record is shown): for tools that want more than
  // the framework's kinds.
  TFieldValue EngineValue(int fieldNo);
  // Moves on at every refresh, the one included that a blob read makes when
  // it finds the record changed by another process. A reader that puts
  // several fields of the shown record together compares it before and
  // after: when it moved, the fields read first belong to the old record.
  uint64_t RefreshCount() const noexcept { return refreshes_; }

  // dataset::TDataSet
  bool GetFieldData(const dataset::TField& field, dataset::TFieldData* value) override;
  void SetFieldData(dataset::TField& field, const dataset::TFieldData& value) override;
  std::unique_ptr<dataset::TStream> CreateBlobStream(const dataset::TField& field,
                                                     dataset::TBlobStreamMode mode) override;
  std::vector<uint8_t> GetBlobFieldData(const dataset::TField& field) override;
  bool CanModify() const override { return canModify_; }
  bool IsIndexField(const dataset::TField& field) const override;
  bool IsSequenced() override;

 protected:
  // The engine handle: a cursor made ready and opened, or null.
  virtual std::unique_ptr<TDataCursor> CreateHandle() { return nullptr; }
  virtual void DestroyHandle();
  // Runs last in an open, once fields and buffers exist.
  virtual void AfterOpenHook() {}
  // Field definitions from the cursor's field descriptors.
  virtual void InternalInitFieldDefs();

  // dataset::TDataSet
  void OpenCursor() override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalFirst() override;
  void InternalLast() override;
  dataset::TGetResult GetRecord(uint8_t* buffer, dataset::TGetMode mode, bool doCheck) override;
  void InternalSetToRecord(uint8_t* buffer) override;
  void InternalGotoRecNo(int32_t value) override;
  int32_t GetRecNo() override;
  int32_t GetRecordCount() override;
  std::size_t RecordBufferSize() const override;
  void InternalRefresh() override;

  // The record image the state selects: the shown record while browsing,
  // the key buffer during key entry; null when there is none.
  uint8_t* RecordImage() noexcept;
  // The active index: its key fields and whether it has any.
  void GetIndexInfo();
  // After the cursor changed index: bookmark size, index information and
  // buffers follow, and the dataset shows the cursor's record.
  void IndexChanged();
  int IndexFieldCount() const noexcept { return static_cast<int>(indexFields_.size()); }
  int IndexField(int i) const { return indexFields_.at(static_cast<std::size_t>(i)); }

  struct TKeyBuffer {
    bool modified = false;
    int32_t fieldCount = 0;
    std::vector<uint8_t> image;
  };
  TKeyBuffer& KeyBuffer(int index) { return keyBuffers_.at(static_cast<std::size_t>(index)); }
  // The key buffer key entry writes to.
  int currentKey_ = 0;
  // What the open was granted.
  bool canModify_ = false;

 private:
  friend class TLedgerBlobStream;
  void AddStream(TLedgerBlobStream& stream);
  void RemoveStream(TLedgerBlobStream& stream) noexcept;
  // Streams whose record image is about to go stop reading it: all of
  // them, or those reading a buffer the cursor is about to fill.
  void DetachStreams() noexcept;
  void DetachStreamsOn(const uint8_t* buffer) noexcept;
  std::span<uint8_t> ImageSpan(uint8_t* image) const noexcept {
    return {image, static_cast<std::size_t>(recordSize_)};
  }
  // Opens a field's blob in an image, refreshing and trying again once when
  // the record changed under us; raises any other failure.
  uint8_t* OpenBlob(int fieldNo, const std::string& fieldName, TBlobOpenMode mode, uint32_t& size);

  std::unique_ptr<TDataCursor> cursor_;
  bool autoDisplayLabels_ = false;
  bool copyOnAppend_ = false;
  int recordSize_ = 0;
  int bookmarkSize_ = 0;
  int calcFieldsSize_ = 0;
  std::vector<int> indexFields_;
  bool indexCaseInsensitive_ = false;
  int indexKeyLength_ = 0;
  std::vector<TKeyBuffer> keyBuffers_;
  std::vector<uint8_t> oldBuffer_;
  std::vector<TLedgerBlobStream*> streams_;
  uint64_t refreshes_ = 0;
};

class TLedgerDBDataSet : public TLedgerDataSet {
 public:
  explicit TLedgerDBDataSet(const void* owner = nullptr);
  ~TLedgerDBDataSet() override;

  const void* Owner() const noexcept { return owner_; }
  // '\' becomes '/'; only while closed and holding no database.
  const std::string& DatabaseName() const noexcept { return databaseName_; }
  void SetDatabaseName(const std::string& value);
  const std::string& SessionName() const noexcept { return sessionName_; }
  void SetSessionName(const std::string& value);

  TLedgerDatabase* Database() const noexcept { return database_; }
  // The session SessionName names (the default session when empty).
  TLedgerSession& DBSession() const;

 protected:
  // Why the database is in use; the first reason takes the reference, the
  // last one gives it back.
  enum TDBFlag : unsigned { dbfOpened = 1 };
  void SetDBFlag(TDBFlag flag, bool value);
  virtual void DatabaseNameChanged() {}

  void OpenCursor() override;
  void CloseCursor() override;

 private:
  friend class TLedgerSessionList;
  const void* owner_;
  std::string databaseName_;
  std::string sessionName_;
  TLedgerDatabase* database_ = nullptr;
  unsigned dbFlags_ = 0;
};

}  // namespace ledger
