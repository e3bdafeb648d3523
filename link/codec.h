#pragma once
// Text conversions at the client boundary. The client speaks UTF-8; inside, texts are narrow texts in
// the system code page. The UTF-16/UTF-8 halves are our own (decoding strictly:
// only well-formed UTF-8 is taken); the code-page halves go through the platform (CodePage).

#include <memory>
#include <string>

#include "link/codepage.h"

namespace halvane {

// UTF-16 to UTF-8: each unit by itself (a surrogate takes the three-byte form). Stops at the zero unit.
std::string Utf16ToUtf8(const char16_t* units);

// UTF-8 to UTF-16; a character beyond U+FFFF becomes a surrogate pair. Never reads past the terminating
// zero byte. Only well-formed UTF-8 decodes: a sequence the zero cuts short, a byte that cannot start
// or continue a sequence, an over-long form (C0 80 included), an encoded surrogate or a code point
// above U+10FFFF refuses the text: false, and no units.
bool Utf8ToUtf16(const char* text, std::u16string& units);

// A command text in the system code page to UTF-8. False (and no text) when it cannot be converted,
// an empty text included.
bool AnsiToUtf8(CodePage& codePage, const char* text, std::string& utf8);

// A received UTF-8 text to the console code page, zero-terminated. False (and no text) when it cannot be
// decoded or converted; the reason goes to standard error. The text is sized by what the client sent,
// so it is allocated without exceptions: no memory is a failure like the others.
bool Utf8ToLocal(CodePage& codePage, const char* text, std::unique_ptr<char[]>& local);

}  // namespace halvane
