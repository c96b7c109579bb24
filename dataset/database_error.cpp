#include "dataset/database_error.h"

namespace dataset {

std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (next != args.end()) out += *next++;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

void DatabaseError(const std::string& message) { throw EDatabaseError(message); }

void DatabaseErrorFmt(std::string_view format, std::initializer_list<std::string_view> args) {
  throw EDatabaseError(FormatMessage(format, args));
}

}  // namespace dataset
