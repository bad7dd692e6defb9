#include "support/strict_json.h"

namespace mirrow::testing {
namespace {

// True when nothing outside strings is white space and the strings hold
// only printable units and the escapes the libraries write.
bool written_tightly(std::string_view text) {
  bool in_string = false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (!in_string) {
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return false;
      if (c == '"') in_string = true;
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x20) return false;
    if (c == '"') {
      in_string = false;
    } else if (c == '\\') {
      if (++at >= text.size()) return false;
      const char escape = text[at];
      if (escape != '"' && escape != '\\' && escape != '/' && escape != 'u') return false;
    }
  }
  return !in_string;
}

}  // namespace

std::optional<JsonValue> parse_strict_json(std::string_view text) {
  if (!written_tightly(text)) return std::nullopt;
  return host::parse_json(text);
}

std::vector<std::string> keys_of(const JsonValue& object) {
  std::vector<std::string> names;
  for (const auto& member : object.members) names.push_back(member.first);
  return names;
}

}  // namespace mirrow::testing
