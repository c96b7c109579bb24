#pragma once
// Where the tool meets the engine: building a table through the table
// builder and checking one through the table verifier.
#include <cstdint>
#include <functional>
#include <string>

#include "tools/ledger/record_json.h"
#include "tools/ledger/schema.h"

namespace ledger::tool {

// Fills record and answers true while records remain.
using TRecordSource = std::function<bool(TJsonRecord& record)>;

// Builds DIR/TABLE from the schema and every record of the source; a record
// marked deleted is stored, then deleted. With a primary key the records lie
// in key order unless inputOrder asks for the order they came in. Engine
// failures propagate as ELedgerEngineError. Returns the number of records stored.
int64_t BuildTable(const std::string& directory, const std::string& table,
                   const TTableSchema& schema, const TRecordSource& next, bool inputOrder = false);

// "ok", or the engine's message or a description of the first inconsistency.
std::string CheckTable(const std::string& directory, const std::string& table);

}  // namespace ledger::tool
