#pragma once
// The messages the session, database and table components raise as the
// framework's database error.

namespace ledger {

inline constexpr const char* kEngineVersionText = "3.17";

// Tables.
inline constexpr const char* SNoTableName = "Missing table name.";
inline constexpr const char* SHandleError = "Error creating table handle.";
inline constexpr const char* SNoFieldIndexes = "No fields defined for the current index.";
inline constexpr const char* SFieldIndexError = "Field index out of range.";
inline constexpr const char* SIndexFieldMissing = "Cannot access index field %s.";
inline constexpr const char* SNotEditing = "Table is not in edit or insert mode.";
inline constexpr const char* SFieldReadOnly = "Field %s cannot be modified.";
inline constexpr const char* SNotIndexField = "Field %s is not in the current index.";
inline constexpr const char* SNoIndexForFields = "No index for fields '%s'.";
inline constexpr const char* SNotLedgerDataSet = "Field %s does not belong to a table.";
inline constexpr const char* SNotSupported = "%s is not supported.";

// Sessions.
inline constexpr const char* SInvalidSessionName = "Session name %s is not valid.";
inline constexpr const char* SDuplicateSessionName = "Session name %s already exists.";
inline constexpr const char* SSessionNameMissing = "Session name is missing.";
inline constexpr const char* SSessionActive = "Cannot perform this operation on an active session.";
inline constexpr const char* SAutoSessionActive = "Cannot perform this operation on the active auto-session.";
inline constexpr const char* SAutoSessionExclusive = "The active auto-session can be the only active session.";
inline constexpr const char* SAutoSessionExists = "This auto-session already exists.";

// Databases.
inline constexpr const char* SDatabaseNameMissing = "Database name is missing.";
inline constexpr const char* SInvalidDatabaseName = "Database name %s is not valid.";
inline constexpr const char* SDuplicateDatabaseName = "Database name %s already exists.";
inline constexpr const char* SDatabaseOpen = "Cannot perform this operation on an open database.";
inline constexpr const char* SDatabaseClosed = "Cannot perform this operation on a closed database.";
inline constexpr const char* SInTransaction = "Database %s already has an active transaction.";
inline constexpr const char* SNotInTransaction = "Database %s has no active transaction.";

}  // namespace ledger
