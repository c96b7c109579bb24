// Session and database components: settings, names, and how databases are
// found, shared and let go.
#include "engine/components/ledger_session.h"

#include <gtest/gtest.h>

#include "dataset/database_error.h"
#include "engine/components/ledger_database.h"
#include "engine/components/ledger_table.h"
#include "engine/core/data_directory.h"
#include "tests/components/table_fixture.h"

namespace ledger {
namespace {

using dataset::EDatabaseError;
using testing::DatabaseMessage;

TEST(LedgerSession, DefaultSessionAndItsSettings) {
  TLedgerSession& s = Session();
  EXPECT_TRUE(s.IsDefault());
  EXPECT_EQ(s.SessionName(), "Default");
  EXPECT_EQ(Sessions().FindSession(""), &s);
  EXPECT_EQ(Sessions().FindSession("DEFAULT"), &s);
  EXPECT_TRUE(s.KeepConnections());
  EXPECT_EQ(s.LockRetryCount(), 15);
  EXPECT_EQ(s.LockWaitTime(), 100);
  EXPECT_EQ(s.LockProtocol(), lpPessimistic);
  EXPECT_EQ(s.ProgressSteps(), 20);
  EXPECT_FALSE(s.StrictChangeDetection());
  EXPECT_FALSE(s.ForceBufferFlush());
  EXPECT_EQ(s.PrivateDir(), "");
  s.SetEngineVersion("4.0");
  EXPECT_EQ(s.EngineVersion(), "3.17");
  s.SetProgressSteps(101);
  EXPECT_EQ(s.ProgressSteps(), 20);
}

TEST(LedgerSession, LiveSettingsReachTheEngineOthersWaitForAStop) {
  TLedgerSession s("Tuned");
  s.SetSessionName("Tuned");
  s.SetLockRetryCount(3);
  s.Open();
  EXPECT_EQ(s.EngineSession().Settings().lockRetryCount, 3);
  s.SetLockRetryCount(7);
  s.SetLockWaitTime(5);
  s.SetStrictChangeDetection(true);
  s.SetForceBufferFlush(true);
  s.SetLockProtocol(lpOptimistic);
  s.SetProgressSteps(50);
  s.SetPrivateDir(" /tmp/private ");
  const TSessionSettings& engine = s.EngineSession().Settings();
  EXPECT_EQ(engine.lockRetryCount, 7);
  EXPECT_EQ(engine.lockWaitTime, 5);
  EXPECT_TRUE(engine.strictChangeDetection);
  EXPECT_TRUE(engine.forceBufferFlush);
  EXPECT_EQ(engine.lockProtocol, lpOptimistic);
  EXPECT_EQ(engine.progressSteps, 50);
  EXPECT_EQ(engine.privateDir, "/tmp/private/");

  const std::string active = "Cannot perform this operation on an active session.";
  EXPECT_EQ(DatabaseMessage([&] { s.SetSessionName("Other"); }), active);
  EXPECT_EQ(DatabaseMessage([&] { s.SetSessionType(TSessionType::stRemote); }), active);
  EXPECT_EQ(DatabaseMessage([&] { s.SetAutoSessionName(true); }), active);
  s.Close();
  s.SetSessionName("Other");
  EXPECT_EQ(s.SessionName(), "Other");
}

TEST(LedgerSession, NamesAreUniqueAndRequired) {
  TLedgerSession a("A"), b("B");
  a.SetSessionName("Shared");
  EXPECT_EQ(DatabaseMessage([&] { b.SetSessionName("SHARED"); }), "Session name SHARED already exists.");
  EXPECT_EQ(DatabaseMessage([&] { b.SetSessionName("default"); }), "Session name default already exists.");
  EXPECT_EQ(DatabaseMessage([&] { b.Open(); }), "Session name is missing.");
  EXPECT_FALSE(b.Active());
  bool started = false;
  a.OnStartup = [&](TLedgerSession&) { started = true; };
  a.Open();
  EXPECT_TRUE(started);
  EXPECT_TRUE(Session().Active()) << "the default session starts first";
  EXPECT_EQ(DatabaseMessage([] { Sessions().GetSession("Nobody"); }), "Session name Nobody is not valid.");
}

TEST(LedgerSession, AutoSessionsNameThemselvesAndTheirOwnersComponents) {
  int owner = 0;
  TLedgerTable table(&owner);
  TLedgerSession first("Form1Session", &owner);
  first.SetAutoSessionName(true);
  EXPECT_EQ(first.SessionName().rfind("Form1Session_", 0), 0u);
  EXPECT_EQ(table.SessionName(), first.SessionName());
  EXPECT_EQ(DatabaseMessage([&] { first.SetSessionName("Mine"); }),
            "Cannot perform this operation on the active auto-session.");
  TLedgerSession second("Other", &owner);
  EXPECT_EQ(DatabaseMessage([&] { second.SetAutoSessionName(true); }), "This auto-session already exists.");

  second.SetSessionName("Plain");
  second.Open();
  EXPECT_EQ(DatabaseMessage([&] { first.Open(); }), "The active auto-session can be the only active session.");
  second.Close();
  first.Open();
  EXPECT_TRUE(first.Active());
}

TEST(LedgerSession, PasswordsAreKeptExactly) {
  TLedgerSession s("Locked");
  s.SetSessionName("Locked");
  s.AddPassword("Secret");
  EXPECT_TRUE(s.Active()) << "passwords start the session";
  EXPECT_TRUE(s.EngineSession().HasPassword("Secret"));
  EXPECT_FALSE(s.EngineSession().HasPassword("secret"));
  s.RemovePassword("Secret");
  EXPECT_FALSE(s.EngineSession().HasPassword("Secret"));
  EXPECT_FALSE(s.GetPassword()) << "no handler gives up";
  s.OnPassword = [](TLedgerSession& sender, bool& proceed) {
    sender.AddPassword("Secret");
    proceed = true;
  };
  EXPECT_TRUE(s.GetPassword());
  EXPECT_TRUE(s.EngineSession().HasPassword("Secret"));
}

class LedgerDatabaseTest : public ::testing::Test {
 protected:
  testing::TScratchDir dir_;
};

TEST_F(LedgerDatabaseTest, ComponentsCheckTheirNames) {
  TLedgerDatabase db;
  EXPECT_EQ(DatabaseMessage([&] { db.Open(); }), "Database name is missing.");
  db.SetDatabaseName("/games/words");
  EXPECT_EQ(DatabaseMessage([&] { db.Open(); }), "Database name /games/words is not valid.");
  db.SetDatabaseName("Words");
  db.SetDirectory(dir_.Path());
  EXPECT_EQ(DatabaseMessage([&] { db.Commit(); }), "Cannot perform this operation on a closed database.");
  db.Open();
  EXPECT_EQ(db.EngineVersion(), "3.17");
  EXPECT_EQ(db.Handle()->Path(), dir_.Path() + "/");
  EXPECT_EQ(DatabaseMessage([&] { db.SetDirectory("/tmp"); }),
            "Cannot perform this operation on an open database.");
  EXPECT_EQ(DatabaseMessage([&] { db.Commit(); }), "Database Words has no active transaction.");

  TLedgerDatabase twin;
  twin.SetDatabaseName("words");
  twin.SetDirectory(dir_.Path());
  EXPECT_EQ(DatabaseMessage([&] { twin.Open(); }), "Database name words already exists.");
  EXPECT_EQ(twin.DatabaseName(), "");
  EXPECT_FALSE(twin.Connected());
}

TEST_F(LedgerDatabaseTest, TablesNamingADatabaseUseItAndCloseWithIt) {
  testing::MakeWordTable(dir_.Path(), "Blend", testing::Words({"stop", "black"}));
  TLedgerDatabase db;
  db.SetDatabaseName("Content");
  db.SetDirectory(dir_.Path());
  db.SetKeepConnection(false);
  TLedgerTable first, second;
  for (TLedgerTable* t : {&first, &second}) {
    t->SetDatabaseName("content");
    t->SetTableName("Blend");
    t->Open();
    EXPECT_EQ(t->Database(), &db);
  }
  EXPECT_EQ(db.UseCount(), 2);
  EXPECT_EQ(db.DataSetCount(), 2);
  db.Close();
  EXPECT_FALSE(first.Active());
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(first.Database(), nullptr);
  EXPECT_EQ(db.UseCount(), 0);

  // Without KeepConnection the last table to close disconnects it.
  first.Open();
  EXPECT_TRUE(db.Connected());
  first.Close();
  EXPECT_FALSE(db.Connected());
}

TEST_F(LedgerDatabaseTest, DirectoriesDifferingInCaseAreDifferentDatabases) {
  TLedgerDatabase& upper = Session().OpenDatabase(dir_.Path() + "/Words");
  EXPECT_EQ(Session().FindDatabase(dir_.Path() + "/words"), nullptr);
  EXPECT_EQ(Session().FindDatabase(dir_.Path() + "/Words"), &upper);
  Session().CloseDatabase(upper);
}

TEST_F(LedgerDatabaseTest, StoppingASessionClosesItsTables) {
  testing::MakeWordTable(dir_.Path(), "Blend", testing::Words({"stop"}));
  TLedgerSession s("Short");
  s.SetSessionName("Short");
  TLedgerTable table;
  table.SetSessionName("Short");
  table.SetDatabaseName(dir_.Path());
  table.SetTableName("Blend");
  table.Open();
  EXPECT_EQ(s.DatabaseCount(), 1);
  s.Close();
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(table.Database(), nullptr);
  EXPECT_EQ(s.DatabaseCount(), 0);
  table.Open();
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(table.RecordCount(), 1);
}

}  // namespace
}  // namespace ledger
