#pragma once
// Where progress and diagnostic texts go: the session log in the product, a recorder in tests.

namespace halvane {

class LogWriter {
 public:
  virtual ~LogWriter() = default;
  // Appends one text exactly as given (callers carry their own line breaks). Never fails loudly.
  virtual void WriteLog(const char* text) = 0;
};

}  // namespace halvane
