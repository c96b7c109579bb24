#pragma once
// Index definitions a dataset reads from its table.
#include <string>
#include <string_view>
#include <vector>

namespace dataset {

struct TIndexDef {
  std::string Name;    // empty for the primary index
  std::string Fields;  // field names in key order, separated by ';'
  bool Primary = false;
  bool Unique = false;
  bool Descending = false;
  bool CaseInsensitive = false;
};

class TIndexDefs {
 public:
  TIndexDef& Add(TIndexDef def);
  void Clear() noexcept { items_.clear(); }
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  const TIndexDef& operator[](int i) const { return items_.at(static_cast<std::size_t>(i)); }
  // Case-insensitive; null when absent.
  const TIndexDef* FindByName(std::string_view name) const noexcept;
  // The index whose fields are exactly these (';'-separated, blanks around
  // names ignored, case-insensitive); null when none.
  const TIndexDef* FindByFields(std::string_view fields) const;

  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

 private:
  std::vector<TIndexDef> items_;
};

// "a; b;c" -> {"a", "b", "c"}; empty parts dropped.
std::vector<std::string> SplitFieldNames(std::string_view fields);

}  // namespace dataset
