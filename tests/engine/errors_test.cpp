#include "engine/errors/ledger_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <thread>

namespace ledger {
namespace {

ELedgerEngineError Caught(TErrorCode code, const TErrorContext& context) {
  try {
    RaiseError(code, context);
  } catch (const ELedgerEngineError& e) {
    return e;
  }
  ADD_FAILURE() << "nothing raised";
  return ELedgerEngineError(LEDGER_NONE);
}

TErrorContext Table(std::string table) {
  TErrorContext context;
  context.TableName = std::move(table);
  context.DatabaseName = "/tables";
  return context;
}

struct TMessageCase {
  const char* Label;
  TErrorCode Code;
  TErrorContext Context;
  std::string Message;
};

TEST(EngineErrors, MessagesFromTemplatesAndContext) {
  TErrorContext remote;
  remote.ServerName = "srv";
  remote.UserName = "ann";
  remote.DatabaseName = "words";
  TErrorContext keyed = Table("Blend");
  keyed.IndexName = "ByWord";
  TErrorContext filtered = Table("SndFx");
  filtered.ExtraMessage = "missing operand";
  const TMessageCase cases[] = {
      {"table template", LEDGER_OSENOENT, Table("Conson"),
       "Ledger Engine Error # 11010 Table 'Conson' does not exist"},
      {"named code without template", LEDGER_REMOTECALLBACK, Table("Conson"),
       "Ledger Engine Error # 11284 An unknown error occurred"},
      {"unlisted code", 1234, Table("Conson"), "Ledger Engine Error # 1234 An unknown error occurred"},
      {"highest code", 65535, {}, "Ledger Engine Error # 65535 An unknown error occurred"},
      {"no arguments", LEDGER_COMPRESS, Table("Conson"), "Ledger Engine Error # 15001 Error compressing data"},
      {"index then table", LEDGER_KEYVIOL, keyed,
       "Ledger Engine Error # 9729 Duplicate key found in the index 'ByWord' of the table 'Blend'"},
      {"table then extra", LEDGER_INVALIDFILTER, filtered,
       "Ledger Engine Error # 10051 Filter error for the table 'SndFx' - missing operand"},
      {"user, database, server", LEDGER_REMOTENOTAUTH, remote,
       "Ledger Engine Error # 11288 The user 'ann' is not authorized to perform this operation with "
       "the database 'words' on the database server at 'srv'"},
      {"format directives in a name are text", LEDGER_READERR, Table("%s%n%d"),
       "Ledger Engine Error # 9217 Error reading from the table '%s%n%d'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    ELedgerEngineError e = Caught(c.Code, c.Context);
    EXPECT_EQ(e.ErrorCode(), c.Code);
    EXPECT_EQ(std::string(e.what()), c.Message);
  }
}

TEST(EngineErrors, TextIsCutTo254Characters) {
  const std::string prefix = "Ledger Engine Error # 8961 ";
  struct {
    const char* Label;
    std::string Table;
    std::size_t TextLength;
  } cases[] = {
      {"fits", std::string(200, 'x'), 200 + 42},
      {"exactly at the limit", std::string(212, 'x'), 254},
      {"long name", std::string(300, 'x'), 254},
      // A two-byte character straddling the cut is dropped whole.
      {"multibyte at the cut", std::string(212, 'x') + "\xC3\xA9" + std::string(40, 'y'), 253},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    ELedgerEngineError e = Caught(LEDGER_HEADERCORRUPT, Table(c.Table));
    const std::string message = e.what();
    ASSERT_EQ(message.compare(0, prefix.size(), prefix), 0);
    EXPECT_EQ(message.size() - prefix.size(), c.TextLength);
    EXPECT_LE(e.TableName().size(), 255u);
  }
}

TEST(EngineErrors, RaiseRecordsContextAndLastError) {
  errno = EACCES;
  TErrorContext context = Table("LVowel");
  context.FieldName = "Picture";
  try {
    RaiseError(LEDGER_NOTABLOB, "", "", "", "", "Picture", "LVowel", "/tables");
    FAIL() << "nothing raised";
  } catch (const ELedgerEngineError& e) {
    EXPECT_EQ(e.OSError(), EACCES);
    EXPECT_EQ(e.TableName(), "LVowel");
    EXPECT_EQ(e.FieldName(), "Picture");
    EXPECT_EQ(e.DatabaseName(), "/tables");
    EXPECT_STREQ(e.what(),
                 "Ledger Engine Error # 10753 Invalid blob field 'Picture' specified for the table 'LVowel'");
  }
  EXPECT_EQ(LastErrorCode(), LEDGER_NOTABLOB);

  // Raising by code alone reuses what the context holds.
  try {
    RaiseCode(LEDGER_OUTOFRANGE);
    FAIL() << "nothing raised";
  } catch (const ELedgerEngineError& e) {
    EXPECT_STREQ(e.what(),
                 "Ledger Engine Error # 9985 Invalid field number or name 'Picture' specified for the "
                 "table 'LVowel'");
    EXPECT_EQ(e.OSError(), EACCES);
  }
  EXPECT_EQ(LastErrorCode(), LEDGER_OUTOFRANGE);
}

TEST(EngineErrors, CodeOfAnException) {
  EXPECT_EQ(ErrorCodeOf(Caught(LEDGER_EOF, Table("SVowel"))), LEDGER_EOF);
  EXPECT_EQ(ErrorCodeOf(std::runtime_error("elsewhere")), LEDGER_OSUNKNOWN);
  EXPECT_EQ(ErrorCodeOf(std::make_exception_ptr(42)), LEDGER_OSUNKNOWN);
  EXPECT_EQ(ErrorCodeOf(std::make_exception_ptr(Caught(LEDGER_BOF, {}))), LEDGER_BOF);
  EXPECT_EQ(ErrorCodeName(LEDGER_HEADERCORRUPT), "LEDGER_HEADERCORRUPT");
  EXPECT_EQ(ErrorCodeName(1234), "");
}

TEST(EngineErrors, OperatingSystemErrorsMapByMeaning) {
  const struct {
    int Errno;
    TErrorCode Code;
  } cases[] = {
      {ENOENT, LEDGER_OSENOENT}, {ENOTDIR, LEDGER_OSENOENT}, {EMFILE, LEDGER_OSEMFILE},
      {ENFILE, LEDGER_OSEMFILE}, {EACCES, LEDGER_OSEACCES},  {EPERM, LEDGER_OSEACCES},
      {EROFS, LEDGER_OSEACCES},  {EBUSY, LEDGER_OSEACCES},   {EBADF, LEDGER_OSEBADF},
      {ENOMEM, LEDGER_OSENOMEM}, {ENODEV, LEDGER_OSENODEV},  {ENXIO, LEDGER_OSENODEV},
      {EXDEV, LEDGER_OSENOTSAM}, {EIO, LEDGER_OSUNKNOWN},    {0, LEDGER_OSUNKNOWN},
  };
  for (const auto& c : cases) EXPECT_EQ(MapOSError(c.Errno), c.Code) << "errno " << c.Errno;
}

// Two threads raising at once each keep the names of their own raise.
TEST(EngineErrors, ConcurrentRaisesKeepTheirOwnContext) {
  auto raiser = [](std::string table, int* mismatches) {
    for (int i = 0; i < 2000; ++i) {
      try {
        RaiseTableError(LEDGER_READERR, table, "/d");
      } catch (const ELedgerEngineError& e) {
        if (std::string(e.what()).find("'" + table + "'") == std::string::npos) ++*mismatches;
      }
    }
  };
  int mismatchesA = 0;
  int mismatchesB = 0;
  std::thread a(raiser, "Blend", &mismatchesA);
  std::thread b(raiser, "Conson", &mismatchesB);
  a.join();
  b.join();
  EXPECT_EQ(mismatchesA + mismatchesB, 0);
}

}  // namespace
}  // namespace ledger
