#pragma once
// The dataset: a navigable set of records with one shown record, its field
// objects, and the data sources that hear of every change of what it shows.
//
// One record buffer is shown (the active buffer); a second receives each
// fetch so that a move that fails leaves the shown record untouched. The
// subclass owns the cursor underneath and supplies the record operations.
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "dataset/field.h"
#include "dataset/field_defs.h"
#include "dataset/stream.h"

namespace dataset {

class TDataSource;

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsOldValue, dsBlockRead };

enum TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
};

enum class TGetMode { gmCurrent, gmNext, gmPrior };
enum class TGetResult { grOK, grBOF, grEOF, grError };
enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

class TDataSet;
using TDataSetNotifyEvent = std::function<void(TDataSet&)>;

class TDataSet {
 public:
  TDataSet();
  // Concrete datasets close themselves in their own destructor: this one can
  // no longer reach their cursor.
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  bool Active() const noexcept { return state_ != dsInactive; }
  // A failed open leaves the dataset closed, with the subclass's close run.
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const noexcept { return state_; }

  // Moves; each tells the data sources when the shown record changed.
  void First();
  void Last();
  void Next();
  void Prior();
  bool Bof() const noexcept { return bof_; }
  bool Eof() const noexcept { return eof_; }
  bool IsEmpty() const noexcept { return !hasRecord_; }
  int32_t RecordCount();
  // 1-based; 0 when no record is shown.
  int32_t RecNo();
  // Moving to the record already shown does nothing, not even scroll events.
  void SetRecNo(int32_t value);
  void Refresh();

  TFieldDefs& FieldDefs() noexcept { return fieldDefs_; }
  const TFieldDefs& FieldDefs() const noexcept { return fieldDefs_; }
  int FieldCount() const noexcept { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const { return *fields_.at(static_cast<std::size_t>(index)); }
  // Case-insensitive; null when absent.
  TField* FindField(std::string_view name) const noexcept;
  // Raises "Field '%s' not found." when absent.
  TField& FieldByName(std::string_view name) const;
  TField* FieldByNumber(int fieldNo) const noexcept;

  // What fields and streams ask of the dataset. GetFieldData answers false
  // for null and fills value (when given) otherwise.
  virtual bool GetFieldData(const TField& field, TFieldData* value) = 0;
  virtual void SetFieldData(TField& field, const TFieldData& value);
  virtual std::unique_ptr<TStream> CreateBlobStream(const TField& field, TBlobStreamMode mode);
  virtual std::vector<uint8_t> GetBlobFieldData(const TField& field);
  virtual bool CanModify() const { return false; }
  virtual bool IsIndexField(const TField&) const { return false; }
  virtual bool IsSequenced() { return true; }

  // Editing is not offered: each raises.
  virtual void Edit();
  virtual void Insert();
  virtual void Append();
  virtual void Post();
  virtual void Delete();
  // Leaves key entry; nothing to undo otherwise.
  virtual void Cancel();

  void CheckActive() const;
  void CheckInactive() const;
  // Browsing, or raises when closed; key entry is abandoned.
  void CheckBrowseMode();

  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeScroll, AfterScroll, BeforeRefresh, AfterRefresh;

 protected:
  // Open and close of what lies underneath. The defaults run InternalOpen
  // and InternalClose; subclasses wrap them to take and give back handles.
  // CloseCursor also runs after a failed open, so it copes with half-opened state.
  virtual void OpenCursor() { InternalOpen(); }
  virtual void CloseCursor() { InternalClose(); }
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  // Before the first or after the last record.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  // Fetches a record into buffer; with doCheck an unexpected failure raises.
  virtual TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool doCheck) = 0;
  // Puts the cursor back on the record a buffer holds.
  virtual void InternalSetToRecord(uint8_t* buffer) = 0;
  // Puts the cursor on the n-th record (or the nearest).
  virtual void InternalGotoRecNo(int32_t value) = 0;
  virtual int32_t GetRecNo() = 0;
  virtual int32_t GetRecordCount() = 0;
  virtual std::size_t RecordBufferSize() const = 0;
  virtual void InternalRefresh() {}

  // The shown record's buffer, null when none is shown.
  uint8_t* ActiveBuffer() noexcept { return hasRecord_ ? active_.data() : nullptr; }
  const uint8_t* ActiveBuffer() const noexcept { return hasRecord_ ? active_.data() : nullptr; }
  // Whenever the cursor may have left the shown record; the next move first
  // puts it back.
  void CursorPosChanged() noexcept { cursorPosChanged_ = true; }
  void UpdateCursorPos();
  // Shows the cursor's record (or its neighbour) and tells the sources.
  void Resync();
  void DoBeforeScroll();
  void DoAfterScroll();
  // A lookup that moves the cursor: found, the dataset shows the cursor's
  // record and scrolls; not found, it keeps showing what it showed, and only
  // the next move puts the cursor back there.
  bool DoGotoKey(const std::function<bool()>& findOnCursor);
  // Brief states (key entry) that change no data-source activity.
  TDataSetState SetTempState(TDataSetState state) noexcept;
  void RestoreState(TDataSetState state) noexcept { state_ = state; }
  void DataEvent(TDataEvent event, TField* field = nullptr);
  // Field objects for every definition, and their removal.
  void CreateFields();
  void DestroyFields() noexcept;
  // After the buffer size changed (another index, another bookmark size).
  void ReallocateBuffers();

 private:
  friend class TDataSource;
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source) noexcept;
  void DoOpen();
  void DoClose();
  // A fetch into the spare buffer; the shown one takes it on success.
  TGetResult Fetch(TGetMode mode, bool doCheck);
  void ClearBuffers() noexcept;

  TDataSetState state_ = dsInactive;
  TFieldDefs fieldDefs_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<TDataSource*> sources_;
  std::vector<uint8_t> active_;
  std::vector<uint8_t> spare_;
  bool hasRecord_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool cursorPosChanged_ = false;
};

}  // namespace dataset
