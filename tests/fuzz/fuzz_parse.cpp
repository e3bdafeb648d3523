// Arbitrary received lines through the parser: nothing outside the line or a field may be touched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The line in a block of exactly its size plus the zero, as the link hands it over.
  auto line = std::make_unique<char[]>(size + 1);
  if (size != 0) std::memcpy(line.get(), data, size);
  line[size] = '\0';

  halvane::CallBoard board;
  halvane::ParseNotification(board, line.get());
  for (const halvane::CallStatusLine& call : board.calls.TakeNews()) {
    if (call.id.size() > halvane::CallTable::kIdCapacity) std::abort();
    if (call.status.size() > halvane::CallTable::kStatusCapacity) std::abort();
    // A reported call id is never empty: no call command can be formed without one.
    if (call.id.empty() || call.status.empty()) std::abort();
  }
  if (board.userHandle.Load().size() > halvane::HandleText::kCapacity) std::abort();
  return 0;
}
