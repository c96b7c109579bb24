#include "engine/errors/ledger_error.h"

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace ledger {
namespace {

// Context slots, as named in the templates' argument lists.
enum TSlot : std::uint8_t { kServer, kUser, kDatabase, kTable, kField, kIndex, kExtra, kNoSlot };

struct TCodeInfo {
  TErrorCode Code;
  std::string_view Name;
  std::string_view Template;  // empty: no template of its own
  TSlot Args[3];
};

constexpr TCodeInfo kCodes[] = {
    {LEDGER_NONE, "LEDGER_NONE", "", {kNoSlot, kNoSlot, kNoSlot}},
    {LEDGER_BOF, "LEDGER_BOF", "Beginning of table '%s' unexpectedly encountered", {kTable}},
    {LEDGER_EOF, "LEDGER_EOF", "End of table '%s' unexpectedly encountered", {kTable}},
    {LEDGER_KEYORRECDELETED, "LEDGER_KEYORRECDELETED",
     "Record has been changed or deleted by another user, session, or table cursor in the table '%s'",
     {kTable}},
    {LEDGER_NOCURRREC, "LEDGER_NOCURRREC", "No current record in the table '%s'", {kTable}},
    {LEDGER_RECNOTFOUND, "LEDGER_RECNOTFOUND", "Record not found in the table '%s'", {kTable}},
    {LEDGER_ENDOFBLOB, "LEDGER_ENDOFBLOB", "End of blob data in the table '%s' reached prematurely",
     {kTable}},
    {LEDGER_HEADERCORRUPT, "LEDGER_HEADERCORRUPT", "Header information corrupt in the table '%s'",
     {kTable}},
    {LEDGER_FILECORRUPT, "LEDGER_FILECORRUPT", "Data record buffers corrupt in the table '%s'",
     {kTable}},
    {LEDGER_MEMOCORRUPT, "LEDGER_MEMOCORRUPT", "BLOB block buffers corrupt in the table '%s'",
     {kTable}},
    {LEDGER_INDEXCORRUPT, "LEDGER_INDEXCORRUPT", "Index page buffers corrupt in the table '%s'",
     {kTable}},
    {LEDGER_READERR, "LEDGER_READERR", "Error reading from the table '%s'", {kTable}},
    {LEDGER_WRITEERR, "LEDGER_WRITEERR", "Error writing to the table '%s'", {kTable}},
    {LEDGER_FILEDELETEFAIL, "LEDGER_FILEDELETEFAIL", "Cannot delete the table '%s'", {kTable}},
    {LEDGER_FILENOACCESS, "LEDGER_FILENOACCESS",
     "Error accessing header information for the table '%s'", {kTable}},
    {LEDGER_RECTOOBIG, "LEDGER_RECTOOBIG", "Record too big for the table '%s'", {kTable}},
    {LEDGER_TABLEFULL, "LEDGER_TABLEFULL", "The table '%s' is full", {kTable}},
    {LEDGER_INTERNALLIMIT, "LEDGER_INTERNALLIMIT", "Internal limit reached in the table '%s'",
     {kTable}},
    {LEDGER_INDEXLIMIT, "LEDGER_INDEXLIMIT", "Too many indexes defined for the table '%s'",
     {kTable}},
    {LEDGER_FLDLIMIT, "LEDGER_FLDLIMIT", "Too many fields defined for the table '%s'", {kTable}},
    {LEDGER_OPENBLOBLIMIT, "LEDGER_OPENBLOBLIMIT", "Too many blobs opened in the table '%s'",
     {kTable}},
    {LEDGER_BLOBLIMIT, "LEDGER_BLOBLIMIT", "Blob limit reached in the table '%s'", {kTable}},
    {LEDGER_KEYVIOL, "LEDGER_KEYVIOL", "Duplicate key found in the index '%s' of the table '%s'",
     {kIndex, kTable}},
    {LEDGER_MINVALERR, "LEDGER_MINVALERR",
     "The value of the field '%s' is below the minimum allowed in the table '%s'", {kField, kTable}},
    {LEDGER_MAXVALERR, "LEDGER_MAXVALERR",
     "The value of the field '%s' is above the maximum allowed in the table '%s'", {kField, kTable}},
    {LEDGER_REQDERR, "LEDGER_REQDERR", "A value is required for the field '%s' in the table '%s'",
     {kField, kTable}},
    {LEDGER_OUTOFRANGE, "LEDGER_OUTOFRANGE",
     "Invalid field number or name '%s' specified for the table '%s'", {kField, kTable}},
    {LEDGER_PRIMARYKEYREDEFINE, "LEDGER_PRIMARYKEYREDEFINE",
     "The primary index of the table '%s' cannot be redefined", {kTable}},
    {LEDGER_INVALIDBLOBOFFSET, "LEDGER_INVALIDBLOBOFFSET",
     "Invalid blob offset into the table '%s' specified", {kTable}},
    {LEDGER_INVALIDFLDTYPE, "LEDGER_INVALIDFLDTYPE",
     "Invalid field type specified for the field '%s' in the table '%s'", {kField, kTable}},
    {LEDGER_INVALIDVCHKSTRUCT, "LEDGER_INVALIDVCHKSTRUCT",
     "Invalid validity check specified for the field '%s' in the table '%s'", {kField, kTable}},
    {LEDGER_INDEXNAMEREQUIRED, "LEDGER_INDEXNAMEREQUIRED",
     "An index name is required for the table '%s'", {kTable}},
    {LEDGER_INVALIDPASSWORD, "LEDGER_INVALIDPASSWORD",
     "Password provided for the table '%s' is invalid", {kTable}},
    {LEDGER_INVALIDINDEXNAME, "LEDGER_INVALIDINDEXNAME",
     "Invalid secondary index name '%s' specified for the table '%s'", {kIndex, kTable}},
    {LEDGER_INVALIDIDXDESC, "LEDGER_INVALIDIDXDESC",
     "Invalid index definition for the index '%s' of the table '%s'", {kIndex, kTable}},
    {LEDGER_INVALIDKEY, "LEDGER_INVALIDKEY", "Invalid key specified for the index '%s' of the table '%s'",
     {kIndex, kTable}},
    {LEDGER_INDEXEXISTS, "LEDGER_INDEXEXISTS", "The index '%s' already exists in the table '%s'",
     {kIndex, kTable}},
    {LEDGER_INVALIDBLOBLEN, "LEDGER_INVALIDBLOBLEN",
     "Invalid blob length for the field '%s' in the table '%s'", {kField, kTable}},
    {LEDGER_INVALIDBLOBHANDLE, "LEDGER_INVALIDBLOBHANDLE",
     "Invalid blob handle for the table '%s' specified", {kTable}},
    {LEDGER_TABLEOPEN, "LEDGER_TABLEOPEN", "The table '%s' is already in use", {kTable}},
    {LEDGER_INVALIDFIELDNAME, "LEDGER_INVALIDFIELDNAME",
     "Invalid field name '%s' specified for the table '%s'", {kField, kTable}},
    {LEDGER_NOSUCHFILTER, "LEDGER_NOSUCHFILTER", "The filter specified for the table '%s' does not exist",
     {kTable}},
    {LEDGER_INVALIDFILTER, "LEDGER_INVALIDFILTER", "Filter error for the table '%s' - %s",
     {kTable, kExtra}},
    {LEDGER_INVALIDINDEXDELETE, "LEDGER_INVALIDINDEXDELETE",
     "The index '%s' of the table '%s' cannot be deleted", {kIndex, kTable}},
    {LEDGER_LOCKED, "LEDGER_LOCKED", "The table '%s' is already locked by another user", {kTable}},
    {LEDGER_UNLOCKFAILED, "LEDGER_UNLOCKFAILED", "Cannot unlock table or record in the table '%s'",
     {kTable}},
    {LEDGER_LOCKTIMEOUT, "LEDGER_LOCKTIMEOUT", "General lock failure with the table '%s'", {kTable}},
    {LEDGER_NEEDEXCLACCESS, "LEDGER_NEEDEXCLACCESS", "The table '%s' must be opened exclusively",
     {kTable}},
    {LEDGER_RECLOCKFAILED, "LEDGER_RECLOCKFAILED", "Record in the table '%s' is in use by another user",
     {kTable}},
    {LEDGER_NOTSUFFTABLERIGHTS, "LEDGER_NOTSUFFTABLERIGHTS",
     "Insufficient rights to the table '%s', a password is required", {kTable}},
    {LEDGER_NOTABLOB, "LEDGER_NOTABLOB", "Invalid blob field '%s' specified for the table '%s'",
     {kField, kTable}},
    {LEDGER_NOTINITIALIZED, "LEDGER_NOTINITIALIZED", "The database engine is not initialized", {}},
    {LEDGER_OSENOENT, "LEDGER_OSENOENT", "Table '%s' does not exist", {kTable}},
    {LEDGER_OSEMFILE, "LEDGER_OSEMFILE",
     "Too many operating system files open while attempting to open the table '%s'", {kTable}},
    {LEDGER_OSEACCES, "LEDGER_OSEACCES", "Access denied to table '%s'", {kTable}},
    {LEDGER_OSEBADF, "LEDGER_OSEBADF", "Invalid operating system file handle for the table '%s'",
     {kTable}},
    {LEDGER_OSENOMEM, "LEDGER_OSENOMEM",
     "There is insufficient operating system memory available for the current operation", {}},
    {LEDGER_OSEINVMEM, "LEDGER_OSEINVMEM", "Invalid length for the in-memory table '%s'", {kTable}},
    {LEDGER_OSENODEV, "LEDGER_OSENODEV",
     "Access denied to logical operating system device for the table '%s'", {kTable}},
    {LEDGER_OSENOTSAM, "LEDGER_OSENOTSAM", "The table '%s' has been moved", {kTable}},
    {LEDGER_OSUNKNOWN, "LEDGER_OSUNKNOWN",
     "An unknown operating system error occurred with the table '%s'", {kTable}},
    {LEDGER_REMOTECOMMLOST, "LEDGER_REMOTECOMMLOST",
     "Communication with the database server at '%s' was lost", {kServer}},
    {LEDGER_REMOTEUNKNOWN, "LEDGER_REMOTEUNKNOWN",
     "An unknown error occurred with the database server at '%s'", {kServer}},
    {LEDGER_REMOTECONNECT, "LEDGER_REMOTECONNECT",
     "A connection to the database server at '%s' cannot be established", {kServer}},
    {LEDGER_REMOTENOLOGIN, "LEDGER_REMOTENOLOGIN",
     "The database server at '%s' is not accepting new logins", {kServer}},
    {LEDGER_REMOTEMAXCONNECT, "LEDGER_REMOTEMAXCONNECT",
     "The maximum number of connections to the database server at '%s' has been reached", {kServer}},
    {LEDGER_REMOTEADDRESSBLOCK, "LEDGER_REMOTEADDRESSBLOCK",
     "Connections from this address to the database server at '%s' are blocked", {kServer}},
    {LEDGER_REMOTECALLBACK, "LEDGER_REMOTECALLBACK", "", {}},
    {LEDGER_REMOTECALLBACKERR, "LEDGER_REMOTECALLBACKERR",
     "A call back from the database server at '%s' failed", {kServer}},
    {LEDGER_REMOTEVERSION, "LEDGER_REMOTEVERSION",
     "The database server at '%s' is not the correct version", {kServer}},
    {LEDGER_REMOTEINVLOGIN, "LEDGER_REMOTEINVLOGIN",
     "Invalid user name '%s' or password for the database server at '%s'", {kUser, kServer}},
    {LEDGER_REMOTENOTAUTH, "LEDGER_REMOTENOTAUTH",
     "The user '%s' is not authorized to perform this operation with the database '%s' on the "
     "database server at '%s'",
     {kUser, kDatabase, kServer}},
    {LEDGER_REMOTENOTADMIN, "LEDGER_REMOTENOTADMIN",
     "The user '%s' is not an administrator on the database server at '%s'", {kUser, kServer}},
    {LEDGER_REMOTEINVUSER, "LEDGER_REMOTEINVUSER",
     "Invalid user '%s' specified for the database server at '%s'", {kUser, kServer}},
    {LEDGER_REMOTENOUSER, "LEDGER_REMOTENOUSER",
     "The user '%s' does not exist on the database server at '%s'", {kUser, kServer}},
    {LEDGER_REMOTEDUPUSER, "LEDGER_REMOTEDUPUSER",
     "The user '%s' already exists on the database server at '%s'", {kUser, kServer}},
    {LEDGER_REMOTEINVDB, "LEDGER_REMOTEINVDB",
     "Invalid database '%s' specified for the database server at '%s'", {kDatabase, kServer}},
    {LEDGER_REMOTENODB, "LEDGER_REMOTENODB",
     "The database '%s' does not exist on the database server at '%s'", {kDatabase, kServer}},
    {LEDGER_REMOTEDUPDB, "LEDGER_REMOTEDUPDB",
     "The database '%s' already exists on the database server at '%s'", {kDatabase, kServer}},
    {LEDGER_REMOTEINVDBUSER, "LEDGER_REMOTEINVDBUSER",
     "Invalid user '%s' specified for the database '%s' on the database server at '%s'",
     {kUser, kDatabase, kServer}},
    {LEDGER_REMOTENODBUSER, "LEDGER_REMOTENODBUSER",
     "The user '%s' does not exist for the database '%s' on the database server at '%s'",
     {kUser, kDatabase, kServer}},
    {LEDGER_REMOTEDUPDBUSER, "LEDGER_REMOTEDUPDBUSER",
     "The user '%s' already exists for the database '%s' on the database server at '%s'",
     {kUser, kDatabase, kServer}},
    {LEDGER_REMOTEINVREQUEST, "LEDGER_REMOTEINVREQUEST",
     "Invalid request sent to the database server at '%s'", {kServer}},
    {LEDGER_IMPORTERROR, "LEDGER_IMPORTERROR", "Error importing data into the table '%s'", {kTable}},
    {LEDGER_EXPORTERROR, "LEDGER_EXPORTERROR", "Error exporting data from the table '%s'", {kTable}},
    {LEDGER_SQLPARSE, "LEDGER_SQLPARSE", "SQL error - %s", {kExtra}},
    {LEDGER_OLDVERSION, "LEDGER_OLDVERSION", "The table '%s' is not the correct version", {kTable}},
    {LEDGER_SEARCHCOLREQD, "LEDGER_SEARCHCOLREQD",
     "A searchable column is required for the index '%s' of the table '%s'", {kIndex, kTable}},
    {LEDGER_TABLEEXISTS, "LEDGER_TABLEEXISTS", "The table '%s' already exists", {kTable}},
    {LEDGER_COMPRESS, "LEDGER_COMPRESS", "Error compressing data", {}},
    {LEDGER_UNCOMPRESS, "LEDGER_UNCOMPRESS", "Error uncompressing data", {}},
    {LEDGER_CANNOTLOADLDDRV, "LEDGER_CANNOTLOADLDDRV",
     "The language driver for the table '%s' is not available or installed", {kTable}},
};

constexpr std::string_view kUnknownText = "An unknown error occurred";
constexpr std::size_t kMaxText = 254;
constexpr std::size_t kMaxSlot = 255;

const TCodeInfo* FindCode(TErrorCode code) {
  for (const auto& info : kCodes)
    if (info.Code == code) return &info;
  return nullptr;
}

// Cuts to at most max bytes without splitting a UTF-8 sequence.
std::string Cut(std::string_view text, std::size_t max) {
  if (text.size() <= max) return std::string(text);
  std::size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

const std::string& SlotOf(const TErrorContext& context, TSlot slot) {
  switch (slot) {
    case kServer: return context.ServerName;
    case kUser: return context.UserName;
    case kDatabase: return context.DatabaseName;
    case kTable: return context.TableName;
    case kField: return context.FieldName;
    case kIndex: return context.IndexName;
    case kExtra: return context.ExtraMessage;
    case kNoSlot: break;
  }
  static const std::string empty;
  return empty;
}

TErrorContext CutContext(const TErrorContext& c) {
  return {Cut(c.ServerName, kMaxSlot), Cut(c.UserName, kMaxSlot),  Cut(c.DatabaseName, kMaxSlot),
          Cut(c.TableName, kMaxSlot),  Cut(c.FieldName, kMaxSlot), Cut(c.IndexName, kMaxSlot),
          Cut(c.ExtraMessage, kMaxSlot)};
}

// The process-wide error context.
struct TGlobalContext {
  std::mutex Guard;
  TErrorCode Code = LEDGER_NONE;
  int OSError = 0;
  int NetError = 0;
  TErrorContext Slots;
};

TGlobalContext& Global() {
  static TGlobalContext context;
  return context;
}

std::string BuildMessage(TErrorCode code, const TErrorContext& context) {
  return "Ledger Engine Error # " + std::to_string(code) + " " + ErrorText(code, context);
}

}  // namespace

std::string ErrorText(TErrorCode code, const TErrorContext& context) {
  const TCodeInfo* info = FindCode(code);
  if (info == nullptr || info->Template.empty()) return std::string(kUnknownText);
  // Context strings are substituted as they stand: a '%' in a table name is
  // text, not a format directive.
  std::string text;
  std::string_view rest = info->Template;
  std::size_t arg = 0;
  for (std::size_t at; (at = rest.find("%s")) != std::string_view::npos;) {
    text.append(rest.substr(0, at));
    if (arg < std::size(info->Args)) text.append(SlotOf(context, info->Args[arg++]));
    rest.remove_prefix(at + 2);
    if (text.size() > kMaxText) break;
  }
  text.append(rest);
  return Cut(text, kMaxText);
}

std::string_view ErrorCodeName(TErrorCode code) noexcept {
  const TCodeInfo* info = FindCode(code);
  return info != nullptr ? info->Name : std::string_view();
}

ELedgerEngineError::ELedgerEngineError(TErrorCode code)
    : ELedgerEngineError(code, LastErrorContext(), 0, 0) {
  auto& global = Global();
  std::lock_guard lock(global.Guard);
  osError_ = global.OSError;
  netError_ = global.NetError;
}

ELedgerEngineError::ELedgerEngineError(TErrorCode code, const TErrorContext& context, int osError,
                                       int netError)
    : std::runtime_error(BuildMessage(code, context)),
      code_(code),
      osError_(osError),
      netError_(netError),
      context_(CutContext(context)) {}

void RaiseError(TErrorCode code, const TErrorContext& context) {
  // Read first: clearing the context must not disturb the number we report.
  const int osError = errno;
  const int netError = 0;  // sockets report through errno here
  TErrorContext stored = CutContext(context);
  auto& global = Global();
  {
    std::lock_guard lock(global.Guard);
    global.Code = code;
    global.OSError = osError;
    global.NetError = netError;
    global.Slots = stored;
  }
  // Built from our own copy, so a raise on another thread cannot swap names.
  throw ELedgerEngineError(code, stored, osError, netError);
}

void RaiseError(TErrorCode code, std::string_view serverName, std::string_view userName,
                std::string_view extraMessage, std::string_view indexName,
                std::string_view fieldName, std::string_view tableName,
                std::string_view databaseName) {
  TErrorContext context{std::string(serverName), std::string(userName),
                        std::string(databaseName), std::string(tableName),
                        std::string(fieldName),  std::string(indexName),
                        std::string(extraMessage)};
  RaiseError(code, context);
}

void RaiseTableError(TErrorCode code, std::string_view tableName, std::string_view databaseName) {
  TErrorContext context;
  context.TableName = std::string(tableName);
  context.DatabaseName = std::string(databaseName);
  RaiseError(code, context);
}

void RaiseCode(TErrorCode code) {
  {
    auto& global = Global();
    std::lock_guard lock(global.Guard);
    global.Code = code;
  }
  throw ELedgerEngineError(code);
}

TErrorCode ErrorCodeOf(const std::exception& error) noexcept {
  if (const auto* engine = dynamic_cast<const ELedgerEngineError*>(&error))
    return engine->ErrorCode();
  return LEDGER_OSUNKNOWN;
}

TErrorCode ErrorCodeOf(const std::exception_ptr& error) noexcept {
  if (!error) return LEDGER_NONE;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return ErrorCodeOf(e);
  } catch (...) {
  }
  return LEDGER_OSUNKNOWN;
}

TErrorCode MapOSError(int errorNumber) noexcept {
  switch (errorNumber) {
    case ENOENT:
    case ENOTDIR: return LEDGER_OSENOENT;
    case EMFILE:
    case ENFILE: return LEDGER_OSEMFILE;
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY: return LEDGER_OSEACCES;
    case EBADF: return LEDGER_OSEBADF;
    case ENOMEM: return LEDGER_OSENOMEM;
    case ENODEV:
    case ENXIO: return LEDGER_OSENODEV;
    case EXDEV: return LEDGER_OSENOTSAM;
    default: return LEDGER_OSUNKNOWN;
  }
}

TErrorCode LastErrorCode() noexcept {
  auto& global = Global();
  std::lock_guard lock(global.Guard);
  return global.Code;
}

TErrorContext LastErrorContext() {
  auto& global = Global();
  std::lock_guard lock(global.Guard);
  return global.Slots;
}

}  // namespace ledger
