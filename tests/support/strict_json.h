#pragma once
// The host's JSON reader held to the form the libraries write: one value, no
// white space outside strings, no control characters in strings and no
// escapes but \" \\ \/ and \u. A test that reads a report through it also
// checks that the report is written tightly.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/json_value.h"

namespace mirrow::testing {

using host::JsonValue;

// The value when `text` is one tightly written JSON value; nothing otherwise.
std::optional<JsonValue> parse_strict_json(std::string_view text);

// The member names of an object in their order.
std::vector<std::string> keys_of(const JsonValue& object);

}  // namespace mirrow::testing
