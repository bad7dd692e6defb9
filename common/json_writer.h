#pragma once
// The one writer of JSON objects and arrays shared by every deliverable's
// texts. It keeps one comma convention: a comma goes before every member
// or item but the first of its container. Strings go through json_quote and
// numbers through the shared number formats, so the bytes are those the
// texts always had.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirrow {

class JsonWriter {
 public:
  // Writes into `out` at its end. The second form goes on inside a container
  // that an earlier writer opened, for texts built over several calls (a
  // batch record by record); `items_before` says whether it holds any yet.
  explicit JsonWriter(std::string& out) noexcept : out_(out) {}
  JsonWriter(std::string& out, bool items_before) noexcept : out_(out) {
    depth_ = 1;
    written_[0] = items_before;
  }

  JsonWriter& begin_object() { return open('{'); }
  JsonWriter& end_object() { return close('}'); }
  JsonWriter& begin_array() { return open('['); }
  JsonWriter& end_array() { return close(']'); }

  // Starts a member: "key": . The value written next belongs to it.
  JsonWriter& key(std::string_view name);

  JsonWriter& u64(std::uint64_t value);
  JsonWriter& i64(std::int64_t value);
  // A number inside quotes, for 64-bit values a JavaScript host would round.
  JsonWriter& quoted_u64(std::uint64_t value);
  JsonWriter& g17(double value);
  JsonWriter& g6(double value);
  JsonWriter& boolean(bool value);
  // A yes/no travelling as the digits 1 and 0.
  JsonWriter& flag(bool value);
  JsonWriter& null();
  JsonWriter& text(std::u16string_view value);
  // A string known to need no escapes (a fixed word), written as it is.
  JsonWriter& word(std::string_view value);
  JsonWriter& optional_u64(const std::optional<std::uint64_t>& value);

 private:
  static constexpr std::size_t max_depth = 8;

  // The comma before a member or item that is not its container's first.
  void separate();
  JsonWriter& open(char bracket);
  JsonWriter& close(char bracket);

  std::string& out_;
  std::size_t depth_ = 0;
  std::array<bool, max_depth + 1> written_{};  // per open container: a member or item already written
  bool after_key_ = false;
};

}  // namespace mirrow
