#include "engine/path.h"

namespace halvane {

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder);
  if (!path.empty() && path.back() != '/' && path.back() != kPathSeparator) path.push_back(kPathSeparator);
  path.append(name);
  return path;
}

std::string SafeFileNamePart(std::string_view text, std::size_t maxLength) {
  std::string part;
  part.reserve(text.size() < maxLength ? text.size() : maxLength);
  for (char c : text) {
    if (part.size() >= maxLength) break;
    const unsigned char u = static_cast<unsigned char>(c);
    const bool reserved = u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' ||
                          c == '"' || c == '<' || c == '>' || c == '|';
    const bool secondDot = c == '.' && !part.empty() && part.back() == '.';
    part.push_back(reserved || secondDot ? '_' : c);
  }
  return part;
}

}  // namespace halvane
