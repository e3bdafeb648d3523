#pragma once
// The far end's name in the client's answer to "GET CALL <id> PARTNER_DISPNAME" (or PARTNER_HANDLE),
// made safe to show: it is text the other party wrote.

#include <cstddef>
#include <string>
#include <string_view>

#include "base/call_names.h"
#include "link/codepage.h"

namespace halvane {

// Bytes of UTF-8 a shown name keeps at most.
inline constexpr std::size_t kMostNameBytes = 48;

// Drops invalid UTF-8, control characters (C0, DEL, C1), line and paragraph separators and every
// bidirectional mark, embedding, override and isolate, so that a name cannot change the layout around
// it; drops blanks at either end; cuts at a character boundary to at most kMostNameBytes bytes.
std::string CleanName(std::string_view utf8);

// "CALL <id> PARTNER_DISPNAME <name>" (or PARTNER_HANDLE) at the start of the UTF-8 text or right
// after its tag and one blank: stores the cleaned name, in the local code page, in `names`. False for
// any other text, and for a name that is empty once cleaned or cannot be converted.
bool ReadPartnerName(CodePage& codePage, const char* utf8, CallNames& names);

}  // namespace halvane
