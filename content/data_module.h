#pragma once
// Holds the content tables and their data sources; created before the main window
// and released after it. The tables stay closed until the main window opens them.

#include "dataset/data_source.h"
#include "engine/components/ledger_table.h"
#include "toolkit/component.h"

namespace toolkit {
class Application;
}

namespace content {

class TDataModule1 : public toolkit::TDataModule {
 public:
  explicit TDataModule1(toolkit::Application& app);

  // Tables first: the sources go before the tables they show.
  ledger::TLedgerTable dbConson;
  ledger::TLedgerTable dbBlend;
  ledger::TLedgerTable dbSndFx;
  ledger::TLedgerTable dbLVowel;
  ledger::TLedgerTable dbSVowel;
  dataset::TDataSource dsConson;
  dataset::TDataSource dsBlend;
  dataset::TDataSource dsSndFx;
  dataset::TDataSource dsLVowel;
  dataset::TDataSource dsSVowel;
};

}  // namespace content
