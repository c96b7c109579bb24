#pragma once
// Whether a content table's files are in the program's folder yet. On the
// desktop they always are. A browser page fetches a kind's table only when
// its first building begins (most of the content is sound and pictures the
// first building does not need), so the game asks, and waits until it is.

#include <string>

namespace content {

class TTableArrival {
 public:
  virtual ~TTableArrival() = default;
  // True once the table's files are in place, or once fetching them has
  // ended without some of them, so that opening it says which are missing.
  virtual bool Arrived(const std::string& table) = 0;
  // Asks for the table's files; harmless when they are here or on their way.
  virtual void Request(const std::string& table) = 0;
};

// This platform's: always arrived on the desktop, the page's in a browser.
TTableArrival& HostTableArrival();

}  // namespace content
