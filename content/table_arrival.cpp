#include "content/table_arrival.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>

EM_JS(int, tamblo_table_arrived, (const char* table), {
  const page = Module.tamblo;
  return !page || typeof page.tableArrived !== "function" || page.tableArrived(UTF8ToString(table)) ? 1 : 0;
});

EM_JS(void, tamblo_request_table, (const char* table), {
  const page = Module.tamblo;
  if (page && typeof page.requestTable === "function") page.requestTable(UTF8ToString(table));
});
#endif

namespace content {
namespace {

#ifdef __EMSCRIPTEN__
class TPageTables : public TTableArrival {
 public:
  bool Arrived(const std::string& table) override { return tamblo_table_arrived(table.c_str()) != 0; }
  void Request(const std::string& table) override { tamblo_request_table(table.c_str()); }
};
using THostTables = TPageTables;
#else
class TLocalTables : public TTableArrival {
 public:
  bool Arrived(const std::string&) override { return true; }
  void Request(const std::string&) override {}
};
using THostTables = TLocalTables;
#endif

}  // namespace

TTableArrival& HostTableArrival() {
  static THostTables tables;
  return tables;
}

}  // namespace content
