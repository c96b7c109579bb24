#pragma once
// The framework's one exception: misuse of a dataset, a field or a link,
// reported with a fixed message.
#include <stdexcept>
#include <string>
#include <string_view>

namespace dataset {

class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void DatabaseError(const std::string& message);
// Replaces each "%s" of format, in order, with the next argument.
[[noreturn]] void DatabaseErrorFmt(std::string_view format, std::initializer_list<std::string_view> args);
std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> args);

// Messages of the framework itself.
inline constexpr const char* SDataSetClosed = "Cannot perform this operation on a closed dataset.";
inline constexpr const char* SDataSetOpen = "Cannot perform this operation on an open dataset.";
inline constexpr const char* SFieldNotFound = "Field '%s' not found.";
inline constexpr const char* SNotEditing = "Dataset not in edit or insert mode.";
inline constexpr const char* SEditingNotSupported = "Editing records is not supported.";
inline constexpr const char* SNotBlobField = "Field '%s' is not a blob field.";
inline constexpr const char* SInvalidValue = "'%s' is not a valid value for field '%s'.";
inline constexpr const char* SFileCreate = "Cannot create file \"%s\": %s.";
inline constexpr const char* SStreamWrite = "Stream write error.";
inline constexpr const char* SCircularDataLink = "Circular data link.";

}  // namespace dataset
