#pragma once
// The one exception of the table engine, its codes, and the process-wide
// error context that carries the names of what failed to the message.

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ledger {

using TErrorCode = std::uint16_t;

// Read path and file layer.
inline constexpr TErrorCode LEDGER_NONE = 0;
inline constexpr TErrorCode LEDGER_BOF = 8705;
inline constexpr TErrorCode LEDGER_EOF = 8706;
inline constexpr TErrorCode LEDGER_KEYORRECDELETED = 8708;
inline constexpr TErrorCode LEDGER_NOCURRREC = 8709;
inline constexpr TErrorCode LEDGER_RECNOTFOUND = 8710;
inline constexpr TErrorCode LEDGER_ENDOFBLOB = 8711;
inline constexpr TErrorCode LEDGER_HEADERCORRUPT = 8961;
inline constexpr TErrorCode LEDGER_FILECORRUPT = 8962;
inline constexpr TErrorCode LEDGER_MEMOCORRUPT = 8963;
inline constexpr TErrorCode LEDGER_INDEXCORRUPT = 8965;
inline constexpr TErrorCode LEDGER_READERR = 9217;
inline constexpr TErrorCode LEDGER_WRITEERR = 9218;
inline constexpr TErrorCode LEDGER_FILEDELETEFAIL = 9220;
inline constexpr TErrorCode LEDGER_FILENOACCESS = 9221;
inline constexpr TErrorCode LEDGER_OPENBLOBLIMIT = 9494;
inline constexpr TErrorCode LEDGER_OUTOFRANGE = 9985;
inline constexpr TErrorCode LEDGER_INVALIDBLOBOFFSET = 9998;
inline constexpr TErrorCode LEDGER_INVALIDPASSWORD = 10015;
inline constexpr TErrorCode LEDGER_INVALIDINDEXNAME = 10022;
inline constexpr TErrorCode LEDGER_INVALIDBLOBHANDLE = 10030;
inline constexpr TErrorCode LEDGER_TABLEOPEN = 10031;
inline constexpr TErrorCode LEDGER_LOCKED = 10241;
inline constexpr TErrorCode LEDGER_UNLOCKFAILED = 10242;
inline constexpr TErrorCode LEDGER_LOCKTIMEOUT = 10249;
inline constexpr TErrorCode LEDGER_NEEDEXCLACCESS = 10253;
inline constexpr TErrorCode LEDGER_RECLOCKFAILED = 10258;
inline constexpr TErrorCode LEDGER_NOTSUFFTABLERIGHTS = 10498;
inline constexpr TErrorCode LEDGER_NOTABLOB = 10753;
inline constexpr TErrorCode LEDGER_NOTINITIALIZED = 10758;
inline constexpr TErrorCode LEDGER_OSENOENT = 11010;
inline constexpr TErrorCode LEDGER_OSEMFILE = 11012;
inline constexpr TErrorCode LEDGER_OSEACCES = 11013;
inline constexpr TErrorCode LEDGER_OSEBADF = 11014;
inline constexpr TErrorCode LEDGER_OSENOMEM = 11016;
inline constexpr TErrorCode LEDGER_OSEINVMEM = 11017;
inline constexpr TErrorCode LEDGER_OSENODEV = 11023;
inline constexpr TErrorCode LEDGER_OSENOTSAM = 11025;
inline constexpr TErrorCode LEDGER_OSUNKNOWN = 11047;
inline constexpr TErrorCode LEDGER_OLDVERSION = 12035;
inline constexpr TErrorCode LEDGER_COMPRESS = 15001;
inline constexpr TErrorCode LEDGER_UNCOMPRESS = 15002;
inline constexpr TErrorCode LEDGER_CANNOTLOADLDDRV = 15878;

// Editing, definition, filters, remote session, import/export and SQL.
inline constexpr TErrorCode LEDGER_RECTOOBIG = 9477;
inline constexpr TErrorCode LEDGER_TABLEFULL = 9479;
inline constexpr TErrorCode LEDGER_INTERNALLIMIT = 9482;
inline constexpr TErrorCode LEDGER_INDEXLIMIT = 9487;
inline constexpr TErrorCode LEDGER_FLDLIMIT = 9492;
inline constexpr TErrorCode LEDGER_BLOBLIMIT = 9498;
inline constexpr TErrorCode LEDGER_KEYVIOL = 9729;
inline constexpr TErrorCode LEDGER_MINVALERR = 9730;
inline constexpr TErrorCode LEDGER_MAXVALERR = 9731;
inline constexpr TErrorCode LEDGER_REQDERR = 9732;
inline constexpr TErrorCode LEDGER_PRIMARYKEYREDEFINE = 9993;
inline constexpr TErrorCode LEDGER_INVALIDFLDTYPE = 10000;
inline constexpr TErrorCode LEDGER_INVALIDVCHKSTRUCT = 10006;
inline constexpr TErrorCode LEDGER_INDEXNAMEREQUIRED = 10010;
inline constexpr TErrorCode LEDGER_INVALIDIDXDESC = 10023;
inline constexpr TErrorCode LEDGER_INVALIDKEY = 10026;
inline constexpr TErrorCode LEDGER_INDEXEXISTS = 10027;
inline constexpr TErrorCode LEDGER_INVALIDBLOBLEN = 10029;
inline constexpr TErrorCode LEDGER_INVALIDFIELDNAME = 10038;
inline constexpr TErrorCode LEDGER_NOSUCHFILTER = 10050;
inline constexpr TErrorCode LEDGER_INVALIDFILTER = 10051;
inline constexpr TErrorCode LEDGER_INVALIDINDEXDELETE = 10055;
inline constexpr TErrorCode LEDGER_REMOTECOMMLOST = 11276;
inline constexpr TErrorCode LEDGER_REMOTEUNKNOWN = 11279;
inline constexpr TErrorCode LEDGER_REMOTECONNECT = 11280;
inline constexpr TErrorCode LEDGER_REMOTENOLOGIN = 11281;
inline constexpr TErrorCode LEDGER_REMOTEMAXCONNECT = 11282;
inline constexpr TErrorCode LEDGER_REMOTEADDRESSBLOCK = 11283;
inline constexpr TErrorCode LEDGER_REMOTECALLBACK = 11284;
inline constexpr TErrorCode LEDGER_REMOTECALLBACKERR = 11285;
inline constexpr TErrorCode LEDGER_REMOTEVERSION = 11286;
inline constexpr TErrorCode LEDGER_REMOTEINVLOGIN = 11287;
inline constexpr TErrorCode LEDGER_REMOTENOTAUTH = 11288;
inline constexpr TErrorCode LEDGER_REMOTENOTADMIN = 11289;
inline constexpr TErrorCode LEDGER_REMOTEINVUSER = 11290;
inline constexpr TErrorCode LEDGER_REMOTENOUSER = 11291;
inline constexpr TErrorCode LEDGER_REMOTEDUPUSER = 11292;
inline constexpr TErrorCode LEDGER_REMOTEINVDB = 11293;
inline constexpr TErrorCode LEDGER_REMOTENODB = 11294;
inline constexpr TErrorCode LEDGER_REMOTEDUPDB = 11295;
inline constexpr TErrorCode LEDGER_REMOTEINVDBUSER = 11296;
inline constexpr TErrorCode LEDGER_REMOTENODBUSER = 11297;
inline constexpr TErrorCode LEDGER_REMOTEDUPDBUSER = 11298;
inline constexpr TErrorCode LEDGER_REMOTEINVREQUEST = 11299;
inline constexpr TErrorCode LEDGER_IMPORTERROR = 11300;
inline constexpr TErrorCode LEDGER_EXPORTERROR = 11301;
inline constexpr TErrorCode LEDGER_SQLPARSE = 11949;
inline constexpr TErrorCode LEDGER_SEARCHCOLREQD = 12292;
inline constexpr TErrorCode LEDGER_TABLEEXISTS = 13060;

// The names of what an error is about, in slot order (0 server ... 6 extra).
struct TErrorContext {
  std::string ServerName;
  std::string UserName;
  std::string DatabaseName;
  std::string TableName;
  std::string FieldName;
  std::string IndexName;
  std::string ExtraMessage;
};

class ELedgerEngineError : public std::runtime_error {
 public:
  // Takes its context from the process-wide error context.
  explicit ELedgerEngineError(TErrorCode code);
  // Takes the context given; used by the raising routine so that one raise
  // keeps its own names even when another thread raises at the same time.
  ELedgerEngineError(TErrorCode code, const TErrorContext& context, int osError, int netError);

  TErrorCode ErrorCode() const noexcept { return code_; }
  int OSError() const noexcept { return osError_; }
  int NetError() const noexcept { return netError_; }
  const TErrorContext& Context() const noexcept { return context_; }
  const std::string& ServerName() const noexcept { return context_.ServerName; }
  const std::string& UserName() const noexcept { return context_.UserName; }
  const std::string& DatabaseName() const noexcept { return context_.DatabaseName; }
  const std::string& TableName() const noexcept { return context_.TableName; }
  const std::string& FieldName() const noexcept { return context_.FieldName; }
  const std::string& IndexName() const noexcept { return context_.IndexName; }
  const std::string& ExtraMessage() const noexcept { return context_.ExtraMessage; }

 private:
  TErrorCode code_;
  int osError_;
  int netError_;
  TErrorContext context_;
};

// The single raising routine: stores code, last-error numbers and context in
// the error context, then throws.
[[noreturn]] void RaiseError(TErrorCode code, std::string_view serverName, std::string_view userName,
                             std::string_view extraMessage, std::string_view indexName,
                             std::string_view fieldName, std::string_view tableName,
                             std::string_view databaseName);
[[noreturn]] void RaiseError(TErrorCode code, const TErrorContext& context);
// The common case: a table (and its directory) as context.
[[noreturn]] void RaiseTableError(TErrorCode code, std::string_view tableName,
                                  std::string_view databaseName = {});
// Raises with whatever the error context holds; only right after filling it.
[[noreturn]] void RaiseCode(TErrorCode code);

// The message text of a code filled from a context, at most 254 characters.
std::string ErrorText(TErrorCode code, const TErrorContext& context);
// "LEDGER_..." for a known code, empty for an unknown one.
std::string_view ErrorCodeName(TErrorCode code) noexcept;
// The code of an engine error; LEDGER_OSUNKNOWN for any other exception.
TErrorCode ErrorCodeOf(const std::exception& error) noexcept;
TErrorCode ErrorCodeOf(const std::exception_ptr& error) noexcept;
// errno by meaning to an engine code (never LEDGER_NONE).
TErrorCode MapOSError(int errorNumber) noexcept;
// The code of the last raise, from the error context.
TErrorCode LastErrorCode() noexcept;
// A copy of the error context (for callers that report it further).
TErrorContext LastErrorContext();

}  // namespace ledger
