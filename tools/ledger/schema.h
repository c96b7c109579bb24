#pragma once
// The JSON schema `ledger create` reads: fields, primary index, block size,
// locale and description, turned into the definitions the builder takes.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "engine/public/builder.h"

namespace ledger::tool {

// Bad schema or record input; the message names what is wrong.
class EInputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TPrimaryKeyDef {
  std::vector<std::string> fields;
  std::vector<std::string> descending;  // a subset of fields
  int compression = 0;                  // 0-3
  bool caseInsensitive = false;
};

struct TTableSchema {
  TDataFileDefinition data;  // fields with name, type, subtype, size and scale
  bool hasPrimary = false;
  TPrimaryKeyDef primary;
  uint32_t locale = 0;

  // Position of the field called name, or -1.
  int FindField(const std::string& name) const;
};

// A field's type as a schema names it ("string", "autoinc", "blob", ...) and
// any subtype the type name does not carry ("graphic"; empty for none).
// Codes a schema has no name for are shown as numbers.
struct TTypeNames {
  std::string type;
  std::string subtype;
};
TTypeNames TypeNamesOf(const TFieldDesc& field);

TTableSchema ParseSchema(const nlohmann::json& json);
TTableSchema ParseSchemaText(const std::string& text);

}  // namespace ledger::tool
