#include "tools/ledger/table_bridge.h"

#include <fstream>
#include <vector>

#include "engine/public/builder.h"

namespace ledger::tool {

int64_t BuildTable(const std::string& directory, const std::string& table,
                   const TTableSchema& schema, const TRecordSource& next, bool inputOrder) {
  TTableDefinition definition;
  definition.data = schema.data;
  definition.order = inputOrder ? TRecordOrder::Input : TRecordOrder::PrimaryKey;
  if (schema.hasPrimary) {
    TIndexDefinition primary;
    primary.fields = schema.primary.fields;
    primary.descendingFields = schema.primary.descending;
    primary.caseInsensitive = schema.primary.caseInsensitive;
    primary.compression = static_cast<uint8_t>(schema.primary.compression);
    definition.primary = std::move(primary);
  }
  TTableBuilder builder(directory, table, std::move(definition), TBuildTarget::NewFiles, PosixFileSystem());
  TJsonRecord record;
  std::vector<std::ifstream> files;
  std::vector<TBlobSource> blobs;
  while (next(record)) {
    files.clear();
    blobs.clear();
    files.reserve(record.blobFiles.size());
    for (const TBlobFileRef& ref : record.blobFiles) {
      std::ifstream& in = files.emplace_back(ref.path, std::ios::binary);
      if (!in) throw EInputError("cannot read the file \"" + ref.path + "\"");
      blobs.push_back({ref.field, ref.size, [&in](uint8_t* buffer, std::size_t count) {
                         in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
                         return static_cast<std::size_t>(in.gcount());
                       }});
    }
    const int32_t appended = builder.Append(record.values, blobs);
    if (record.deleted) builder.MarkDeleted(appended);
  }
  builder.Finish();
  return builder.RecordCount();
}

std::string CheckTable(const std::string& directory, const std::string& table) {
  return TTableVerifier(directory, table, PosixFileSystem()).Run();
}

}  // namespace ledger::tool
