#include "dataset/data_source.h"

#include <algorithm>

namespace dataset {

TDataSource::TDataSource(TDataSet* dataSet) { SetDataSet(dataSet); }

TDataSource::~TDataSource() {
  OnStateChange = nullptr;
  OnDataChange = nullptr;
  SetDataSet(nullptr);
  while (!links_.empty()) links_.back()->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) dataSet_->RemoveDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AddDataSource(this);
  state_ = State();
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links)
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->Rebound();
}

void TDataSource::AddLink(TDataLink* link) {
  if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void TDataSource::RemoveLink(TDataLink* link) noexcept {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void TDataSource::DataEvent(TDataEvent event, TField* field) {
  if (event == deUpdateState) {
    const TDataSetState now = State();
    if (now == state_) return;
    state_ = now;
    if (OnStateChange) OnStateChange(*this);
  }
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links)
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->DataEvent(event, field);
  if (OnDataChange && (event == deFieldChange || event == deRecordChange ||
                       event == deDataSetChange || event == deDataSetScroll))
    OnDataChange(*this, event == deFieldChange ? field : nullptr);
}

TDataLink::~TDataLink() {
  if (dataSource_) dataSource_->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSource_) dataSource_->RemoveLink(this);
  dataSource_ = source;
  if (dataSource_) dataSource_->AddLink(this);
  Rebound();
}

void TDataLink::Rebound() {
  UpdateState();
  DataSourceChanged();
}

bool TDataLink::UpdateState() noexcept {
  const bool wasActive = active_;
  active_ = dataSource_ && dataSource_->State() != dsInactive;
  editing_ = active_ && !readOnly_ &&
             (dataSource_->State() == dsEdit || dataSource_->State() == dsInsert);
  return active_ != wasActive;
}

bool TDataLink::Edit() {
  if (readOnly_ || !active_) return false;
  if (!editing_) DataSet()->Edit();
  UpdateState();
  return editing_;
}

void TDataLink::DataEvent(TDataEvent event, TField* field) {
  switch (event) {
    case deUpdateState: {
      const bool wasEditing = editing_;
      if (UpdateState()) ActiveChanged();
      if (editing_ != wasEditing) EditingChanged();
      break;
    }
    case deFieldChange:
    case deRecordChange:
      if (active_) RecordChanged(field);
      break;
    case deDataSetChange:
    case deDataSetScroll:
      if (active_) RecordChanged(nullptr);
      break;
    case deLayoutChange:
      if (active_) LayoutChanged();
      break;
    case deUpdateRecord:
      if (active_) UpdateData();
      break;
    default:
      break;
  }
}

void TFieldDataLink::SetFieldName(const std::string& name) {
  if (name == fieldName_) return;
  fieldName_ = name;
  UpdateField();
  RecordChanged(nullptr);
}

void TFieldDataLink::UpdateField() noexcept {
  field_ = nullptr;
  if (Active() && !fieldName_.empty()) field_ = DataSet()->FindField(fieldName_);
}

bool TFieldDataLink::CanModify() const noexcept {
  return !ReadOnly() && field_ && field_->CanModify();
}

void TFieldDataLink::Reset() { RecordChanged(nullptr); }

void TFieldDataLink::UpdateRecord() {
  if (modified_) UpdateData();
}

void TFieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange();
  RecordChanged(nullptr);
}

void TFieldDataLink::DataSourceChanged() { ActiveChanged(); }

void TFieldDataLink::EditingChanged() {
  if (OnEditingChange) OnEditingChange();
}

void TFieldDataLink::RecordChanged(TField* field) {
  if (field && field != field_) return;
  modified_ = false;
  if (OnDataChange) OnDataChange();
}

void TFieldDataLink::LayoutChanged() {
  UpdateField();
  RecordChanged(nullptr);
}

void TFieldDataLink::UpdateData() {
  if (!modified_) return;
  if (OnUpdateData) OnUpdateData();
  modified_ = false;
}

}  // namespace dataset
