#include "common/trace_session_owner.h"

namespace mirrow {
namespace {

// Windows error numbers, spelled out so this file needs no system header.
constexpr std::uint32_t file_not_found = 2;
constexpr std::uint32_t path_not_found = 3;
constexpr std::uint32_t access_denied = 5;

std::u16string joined(std::u16string_view space, std::u16string_view name) {
  std::u16string text(space);
  text += name;
  return text;
}

}  // namespace

bool is_engine_session_name(std::u16string_view session_name) {
  return session_name.starts_with(names_session_prefix) || session_name.starts_with(capture_session_prefix);
}

OwnerMarkNames owner_mark_names(std::u16string_view session_name) {
  return {joined(global_mark_namespace, session_name), joined(local_mark_namespace, session_name)};
}

MarkLookup classify_mark_open(bool opened, std::uint32_t error) {
  if (opened || error == access_denied) return MarkLookup::owner_alive;
  if (error == file_not_found || error == path_not_found) return MarkLookup::absent;
  return MarkLookup::unknown;
}

bool session_is_orphaned(MarkLookup global, MarkLookup local) {
  return global == MarkLookup::absent && local == MarkLookup::absent;
}

}  // namespace mirrow
