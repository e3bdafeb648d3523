#pragma once
// Joining file-name parts with the platform's separator, and making a foreign text safe as one part.

#include <cstddef>
#include <string>
#include <string_view>

namespace halvane {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// `folder` + separator + `name`; just `name` when the folder is empty (the current directory).
std::string JoinPath(std::string_view folder, std::string_view name);

// Turns any text into one harmless file-name part of at most `maxLength` characters: separators,
// characters no file system takes, control characters and a second dot in a row become '_', so the
// result can never step out of its folder.
std::string SafeFileNamePart(std::string_view text, std::size_t maxLength);

}  // namespace halvane
