#include "dataset/index_defs.h"

#include "dataset/field_defs.h"

namespace dataset {

std::vector<std::string> SplitFieldNames(std::string_view fields) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= fields.size()) {
    std::size_t end = fields.find(';', start);
    if (end == std::string_view::npos) end = fields.size();
    std::string_view part = fields.substr(start, end - start);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    if (!part.empty()) out.emplace_back(part);
    start = end + 1;
  }
  return out;
}

TIndexDef& TIndexDefs::Add(TIndexDef def) {
  items_.push_back(std::move(def));
  return items_.back();
}

const TIndexDef* TIndexDefs::FindByName(std::string_view name) const noexcept {
  for (const TIndexDef& def : items_)
    if (SameText(def.Name, name)) return &def;
  return nullptr;
}

const TIndexDef* TIndexDefs::FindByFields(std::string_view fields) const {
  const std::vector<std::string> wanted = SplitFieldNames(fields);
  for (const TIndexDef& def : items_) {
    const std::vector<std::string> have = SplitFieldNames(def.Fields);
    if (have.size() != wanted.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < have.size() && same; ++i) same = SameText(have[i], wanted[i]);
    if (same) return &def;
  }
  return nullptr;
}

}  // namespace dataset
