#include "tools/ledger/table_bridge.h"

#include "engine/build/table_builder.h"
#include "engine/build/table_verifier.h"

namespace ledger::tool {

int64_t BuildTable(const std::string& directory, const std::string& table,
                   const TTableSchema& schema, const TRecordSource& next) {
  TTableDefinition definition;
  definition.data = schema.data;
  if (schema.hasPrimary) {
    TIndexDefinition primary;
    primary.fields = schema.primary.fields;
    primary.descendingFields = schema.primary.descending;
    primary.caseInsensitive = schema.primary.caseInsensitive;
    primary.compression = static_cast<uint8_t>(schema.primary.compression);
    definition.primary = std::move(primary);
  }
  TTableBuilder builder(directory, table, std::move(definition));
  TJsonRecord record;
  while (next(record)) {
    int32_t recordNumber = builder.Append(record.values);
    if (record.deleted) builder.MarkDeleted(recordNumber);
  }
  builder.Finish();
  return builder.RecordCount();
}

std::string CheckTable(const std::string& directory, const std::string& table) {
  return TTableVerifier(directory, table).Run();
}

}  // namespace ledger::tool
