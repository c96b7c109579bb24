#pragma once
// Writes a complete table (data, index and blob files) in one pass: records
// and blobs stream to disk as they are appended, index keys are kept in
// memory, sorted once and bulk-loaded when the table is finished. The files
// are written under temporary names and take their real names only when the
// table is complete, so a refused build leaves no table behind, and a failed
// move into place leaves the old table as it was.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/files/data_file.h"
#include "engine/files/value.h"

namespace ledger {

struct TIndexDefinition {
  std::string name;                 // empty for the primary index
  std::vector<std::string> fields;  // field names in key order
  std::vector<std::string> descendingFields;  // a subset of fields
  bool descending = false;          // the whole index
  bool caseInsensitive = false;
  bool unique = true;               // always true for the primary index
  uint8_t compression = 0;          // 0 none, 1 duplicate, 2 trailing, 3 full
};

// Where the records of a table with a primary index lie in its data file.
enum class TRecordOrder {
  // Record numbers follow the primary key, so a scan in key order reads the
  // data file front to back. A deleted record takes its key's place.
  PrimaryKey,
  // Record numbers follow the order of Append.
  Input,
};

struct TTableDefinition {
  TDataFileDefinition data;  // fields, locale, block size, description, encryption
  std::optional<TIndexDefinition> primary;
  std::vector<TIndexDefinition> secondary;  // up to 30, all named
  // Share of each index page filled, for leaves and branches alike.
  double fillFactor = 1.0;
  // Without a primary index records always keep the input order.
  TRecordOrder order = TRecordOrder::PrimaryKey;
};

// Contents of a blob field read piece by piece, so a blob never has to be
// held in memory whole. read fills up to count bytes and answers how many it
// gave; it must give exactly size bytes in all.
// A field of a table definition by name, type, declared size and subtype;
// numbers, offsets and physical sizes are the builder's to compute.
inline TFieldDesc FieldDef(std::string name, uint8_t type, uint8_t size = 0, uint8_t subtype = 0) {
  TFieldDesc field;
  field.name = std::move(name);
  field.type = type;
  field.size = size;
  field.subtype = subtype;
  return field;
}

struct TBlobSource {
  int field = 0;  // position of the blob field, 1-based
  uint64_t size = 0;
  std::function<std::size_t(uint8_t* buffer, std::size_t count)> read;
};

// How Finish puts the finished files under the table's names.
enum class TBuildTarget {
  // The new files are renamed over the old ones: a process that holds the
  // old table open keeps reading the old files and never learns of the new.
  NewFiles,
  // The table's existing files are rewritten under its write lock: same
  // files, each change counter one past the value it had, so every process
  // that has the table open sees the change at its next lock. A file the
  // table does not have yet is renamed into place.
  InPlace,
};

class TTableBuilder {
 public:
  // Creates directory/table; raises ELedgerEngineError for a definition the
  // engine refuses and std::invalid_argument for one it cannot express.
  // Every file the builder touches goes through system.
  TTableBuilder(std::string directory, std::string table, TTableDefinition definition, TBuildTarget target,
                std::shared_ptr<TFileSystem> system);
  ~TTableBuilder();
  TTableBuilder(const TTableBuilder&) = delete;
  TTableBuilder& operator=(const TTableBuilder&) = delete;

  // One value per field in field order (monostate = null). Blob fields take
  // their contents as std::vector<uint8_t> or std::string; an auto-increment
  // field's value is assigned here (1, 2, 3, ... in call order) and anything
  // given for it is ignored. A source given for a blob field stands in for
  // its value. Returns the record's append number, which is its record
  // number only in input order; in key order Finish assigns the numbers.
  int32_t Append(std::span<const TFieldValue> values, std::span<const TBlobSource> blobs = {});
  // Marks an appended record deleted, by append number; the free chain links
  // the deleted slots in call order, the last one first.
  void MarkDeleted(int32_t appendNumber);

  // Sorts and loads the indexes and writes every header. Duplicate keys of a
  // unique index raise LEDGER_KEYVIOL and leave no table (in place: the old
  // one untouched). In place, a write lock not obtained raises
  // LEDGER_LOCKTIMEOUT and leaves the old table as it was.
  void Finish();

  int32_t RecordCount() const noexcept;

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace ledger
