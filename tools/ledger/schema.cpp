#include "tools/ledger/schema.h"

#include <algorithm>
#include <cctype>
#include <map>

#include <nlohmann/json.hpp>

#include "tools/ledger/record_json.h"

namespace ledger::tool {
namespace {

using nlohmann::json;

struct TTypeName {
  const char* name;
  uint8_t type;
  uint8_t subtype;
  bool sized;  // a size must be given
};

constexpr TTypeName kTypes[] = {
    {"string", ftString, fstNone, true},     {"date", ftDate, fstNone, false},
    {"blob", ftBlob, fstMemo, false},        {"boolean", ftBoolean, fstNone, false},
    {"smallint", ftSmallInt, fstNone, false}, {"integer", ftInteger, fstNone, false},
    {"autoinc", ftInteger, fstAutoInc, false}, {"float", ftFloat, fstNone, false},
    {"money", ftFloat, fstMoney, false},     {"bcd", ftBCD, fstNone, false},
    {"bytes", ftBytes, fstNone, true},       {"time", ftTime, fstNone, false},
    {"timestamp", ftTimeStamp, fstNone, false}, {"word", ftWord, fstNone, false},
    {"cardinal", ftLongWord, fstNone, false}, {"largeint", ftLargeInt, fstNone, false},
};

const std::map<std::string, uint8_t> kBlobSubtypes = {
    {"memo", fstMemo},      {"binary", fstBinary},   {"formatted", fstFormattedMemo},
    {"ole", fstOle},        {"graphic", fstGraphic}, {"typed", fstTypedBinary},
};

[[noreturn]] void Fail(const std::string& what) { throw EInputError("schema: " + what); }

// Names and texts arrive as UTF-8; the table keeps ISO 8859-1.
std::string Latin1(const std::string& utf8, const std::string& what) {
  auto text = Utf8ToLatin1(utf8);
  if (!text) Fail(what + ": characters beyond ISO 8859-1");
  return *text;
}

template <typename T>
T Get(const json& object, const char* key, T fallback, const std::string& where) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return fallback;
  try {
    return it->get<T>();
  } catch (const json::exception&) {
    Fail(where + "\"" + key + "\" has the wrong type");
  }
}

TFieldDesc ParseField(const json& f, std::size_t index) {
  std::string where = "field " + std::to_string(index + 1) + ": ";
  if (!f.is_object()) Fail(where + "not an object");
  TFieldDesc desc;
  desc.name = Latin1(Get<std::string>(f, "name", "", where), where + "name");
  // The data file refuses names it could not tell apart or parse.
  unsigned char first = desc.name.empty() ? 0 : static_cast<unsigned char>(desc.name[0]);
  if (desc.name.empty() || desc.name.size() > 30 ||
      !(std::isalpha(first) || first == '_' || first >= 128))
    Fail(where + "a name of 1 to 30 characters beginning with a letter or \"_\" is needed");
  where = "field \"" + desc.name + "\": ";
  std::string type = Get<std::string>(f, "type", "", where);
  auto it = std::find_if(std::begin(kTypes), std::end(kTypes),
                         [&](const TTypeName& t) { return type == t.name; });
  if (it == std::end(kTypes)) Fail(where + "unknown type \"" + type + "\"");
  desc.type = it->type;
  desc.subtype = it->subtype;
  int size = Get<int>(f, "size", 0, where);
  int scale = Get<int>(f, "scale", 0, where);
  if (it->sized && (size < 1 || size > kMaxDeclaredSize))
    Fail(where + "a size of 1 to " + std::to_string(kMaxDeclaredSize) + " is needed");
  if (!it->sized && f.contains("size")) Fail(where + "a " + type + " field takes no size");
  // A decimal always holds 32 digits; only its places are declared.
  if (desc.type == ftBCD ? scale < 0 || scale > 32 : f.contains("scale"))
    Fail(desc.type == ftBCD ? where + "a scale of 0 to 32 is needed" : where + "only bcd fields take a scale");
  if (desc.type == ftBlob) {
    std::string sub = Get<std::string>(f, "subtype", "memo", where);
    auto s = kBlobSubtypes.find(sub);
    if (s == kBlobSubtypes.end()) Fail(where + "unknown blob subtype \"" + sub + "\"");
    desc.subtype = s->second;
  } else if (f.contains("subtype")) {
    Fail(where + "only blob fields take a subtype");
  }
  desc.size = static_cast<uint8_t>(size);
  desc.scale = static_cast<uint8_t>(scale);
  desc.required = Get<bool>(f, "required", false, where);
  desc.description = Get<std::string>(f, "description", "", where);
  return desc;
}

}  // namespace

int TTableSchema::FindField(const std::string& name) const {
  for (std::size_t i = 0; i < data.fields.size(); ++i)
    if (data.fields[i].name == name) return static_cast<int>(i);
  return -1;
}

TTypeNames TypeNamesOf(const TFieldDesc& field) {
  TTypeNames names;
  if (field.type == ftBlob) {
    names.type = "blob";
    for (const auto& [name, code] : kBlobSubtypes)
      if (code == field.subtype) names.subtype = name;
    if (names.subtype.empty()) names.subtype = field.subtype == fstDbaseOle ? "dbaseole" : std::to_string(field.subtype);
    return names;
  }
  const TTypeName* plain = nullptr;
  for (const TTypeName& t : kTypes) {
    if (t.type != field.type) continue;
    if (t.subtype == field.subtype) return {t.name, ""};
    if (t.subtype == fstNone) plain = &t;
  }
  if (plain) {
    names.type = plain->name;
  } else if (field.type == ftVarBytes) {
    names.type = "varbytes";
  } else {
    names.type = std::to_string(field.type);
  }
  if (field.subtype != fstNone)
    names.subtype = field.subtype == fstFixedChar ? "fixedchar" : std::to_string(field.subtype);
  return names;
}

TTableSchema ParseSchema(const json& j) {
  if (!j.is_object()) Fail("not a JSON object");
  TTableSchema schema;
  auto fields = j.find("fields");
  if (fields == j.end() || !fields->is_array() || fields->empty())
    Fail("\"fields\" must be a non-empty array");
  if (fields->size() > static_cast<std::size_t>(kMaxFields)) Fail("too many fields");
  for (std::size_t i = 0; i < fields->size(); ++i) {
    TFieldDesc desc = ParseField((*fields)[i], i);
    for (const TFieldDesc& other : schema.data.fields)
      if (MapCase(other.name, ccUpper, 0) == MapCase(desc.name, ccUpper, 0))
        Fail("field \"" + desc.name + "\" is defined twice");
    schema.data.fields.push_back(std::move(desc));
  }

  // 0 is the format's own spelling of 512 and is stored as given.
  int blockSize = Get<int>(j, "block_size", 512, "");
  if (blockSize != 0 && (blockSize < 64 || blockSize > 65535))
    Fail("\"block_size\" must be 0 (512) or 64 to 65535");
  schema.data.blockSize = static_cast<uint16_t>(blockSize);
  int64_t locale = Get<int64_t>(j, "locale", 0, "");
  if (locale < 0 || locale > 0xFFFFFFFFLL) Fail("bad \"locale\"");
  schema.locale = static_cast<uint32_t>(locale);
  schema.data.languageId = static_cast<uint16_t>(schema.locale & 0xFFFF);
  schema.data.sortId = static_cast<uint16_t>(schema.locale >> 16);
  schema.data.description = Latin1(Get<std::string>(j, "description", "", ""), "description");
  if (schema.data.description.size() > 50) Fail("\"description\" is longer than 50 characters");

  auto primary = j.find("primary");
  if (primary != j.end() && !primary->is_null()) {
    if (!primary->is_object()) Fail("\"primary\" must be an object");
    const std::string where = "primary: ";
    TPrimaryKeyDef& p = schema.primary;
    p.fields = Get<std::vector<std::string>>(*primary, "fields", {}, where);
    p.descending = Get<std::vector<std::string>>(*primary, "descending", {}, where);
    p.compression = Get<int>(*primary, "compression", 0, where);
    p.caseInsensitive = Get<bool>(*primary, "case_insensitive", false, where);
    for (auto* names : {&p.fields, &p.descending})
      for (std::string& name : *names) name = Latin1(name, where + "field name");
    if (p.fields.empty()) Fail(where + "\"fields\" must name at least one field");
    if (p.compression < 0 || p.compression > 3) Fail(where + "\"compression\" must be 0 to 3");
    for (const std::string& name : p.fields) {
      int pos = schema.FindField(name);
      if (pos < 0) Fail(where + "no field \"" + name + "\"");
      if (schema.data.fields[pos].type == ftBlob) Fail(where + "blob field \"" + name + "\" cannot be a key");
      if (std::count(p.fields.begin(), p.fields.end(), name) > 1)
        Fail(where + "field \"" + name + "\" named twice");
    }
    for (const std::string& name : p.descending)
      if (std::find(p.fields.begin(), p.fields.end(), name) == p.fields.end())
        Fail(where + "descending field \"" + name + "\" is not a key field");
    schema.hasPrimary = true;
  }
  return schema;
}

TTableSchema ParseSchemaText(const std::string& text) {
  json j = json::parse(text, nullptr, false);
  if (j.is_discarded()) Fail("not valid JSON");
  return ParseSchema(j);
}

}  // namespace ledger::tool
