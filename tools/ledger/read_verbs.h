#pragma once
// The verbs that read a table through the table component, the same way the
// game does: info, dump, get, find and blob.
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

namespace ledger::tool {

// A command line the verb cannot take; the message says why.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

bool IsReadVerb(const std::string& verb);

// args[0] is the verb. Raises EUsageError for a wrong command line; engine,
// component and input failures propagate.
int RunReadVerb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace ledger::tool
