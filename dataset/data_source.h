#pragma once
// Data sources and the links that bind controls to them: a dataset tells its
// sources of every change of what it shows; each source passes that on to
// its links, and a field data link to its control.
#include <functional>
#include <string>
#include <vector>

#include "dataset/data_set.h"

namespace dataset {

class TDataLink;

class TDataSource {
 public:
  explicit TDataSource(TDataSet* dataSet = nullptr);
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const noexcept { return dataSet_; }
  // Every link hears of the change once.
  void SetDataSet(TDataSet* dataSet);
  TDataSetState State() const noexcept { return dataSet_ ? dataSet_->State() : dsInactive; }

  std::function<void(TDataSource&, TField*)> OnDataChange;
  std::function<void(TDataSource&)> OnStateChange;

  // From the dataset.
  void DataEvent(TDataEvent event, TField* field);

 private:
  friend class TDataLink;
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link) noexcept;

  TDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
  TDataSetState state_ = dsInactive;
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const noexcept { return dataSource_; }
  // Rebinding to another source is reported once, whatever it shows.
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const noexcept { return dataSource_ ? dataSource_->DataSet() : nullptr; }
  // The source's dataset exists and is open.
  bool Active() const noexcept { return active_; }
  bool Editing() const noexcept { return editing_; }
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool value) noexcept { readOnly_ = value; }
  // Puts the dataset into edit mode; false when that is not possible.
  bool Edit();

 protected:
  virtual void ActiveChanged() {}
  virtual void EditingChanged() {}
  virtual void RecordChanged(TField*) {}
  virtual void LayoutChanged() { RecordChanged(nullptr); }
  virtual void UpdateData() {}
  // After SetDataSource or the source's SetDataSet.
  virtual void DataSourceChanged() { ActiveChanged(); }

 private:
  friend class TDataSource;
  void DataEvent(TDataEvent event, TField* field);
  // Recomputes active and editing; answers whether active changed.
  bool UpdateState() noexcept;
  void Rebound();

  TDataSource* dataSource_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool readOnly_ = false;
};

class TFieldDataLink : public TDataLink {
 public:
  const std::string& FieldName() const noexcept { return fieldName_; }
  // Another name is reported as one data change.
  void SetFieldName(const std::string& name);
  // The bound field of the open dataset, null otherwise.
  TField* Field() const noexcept { return field_; }
  bool CanModify() const noexcept;
  bool Modified() const noexcept { return modified_; }
  void SetModified() noexcept { modified_ = true; }
  // Announces the record again, dropping changes the control made.
  void Reset();
  // Has the control store its value when modified.
  void UpdateRecord();

  std::function<void()> OnDataChange;
  std::function<void()> OnUpdateData;
  std::function<void()> OnEditingChange;
  std::function<void()> OnActiveChange;

 protected:
  void ActiveChanged() override;
  void EditingChanged() override;
  void RecordChanged(TField* field) override;
  void LayoutChanged() override;
  void UpdateData() override;
  void DataSourceChanged() override;

 private:
  void UpdateField() noexcept;

  std::string fieldName_;
  TField* field_ = nullptr;
  bool modified_ = false;
};

}  // namespace dataset
