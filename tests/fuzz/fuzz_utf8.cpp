// Arbitrary received texts through the decoder and on to the local code page.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "link/codec.h"

namespace {
std::size_t Utf16ToUtf8Size(const std::u16string& units) { return halvane::Utf16ToUtf8(units.c_str()).size(); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto text = std::make_unique<char[]>(size + 1);
  if (size != 0) std::memcpy(text.get(), data, size);
  text[size] = '\0';

  std::u16string units;
  const bool decoded = halvane::Utf8ToUtf16(text.get(), units);
  if (units.size() > std::strlen(text.get())) std::abort();  // never more units than bytes
  if (!decoded && !units.empty()) std::abort();
  // Every unit encodes in one to three bytes, whatever the decoder made of the input.
  if (Utf16ToUtf8Size(units) > 3 * units.size()) std::abort();

  // Only texts that decode go on: a refused one would only print its standard-error message, and the
  // fuzzer's own reports go there too.
  if (decoded) {
    std::unique_ptr<char[]> local;
    if (!halvane::Utf8ToLocal(halvane::SystemCodePage(), text.get(), local)) std::abort();
    if (std::strlen(local.get()) > units.size()) std::abort();  // one byte a unit in code page 1252, at most
  }
  return 0;
}
