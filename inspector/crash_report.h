#pragma once
// The crash and shutdown report: which event-log channels are read with
// which query, and the JSON array the events are written into.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/json_writer.h"

namespace mirrow::inspector {

// Unexpected shutdowns and system crashes of the last seven days, then
// application errors of the last hour; read in this order.
inline constexpr std::array<std::u16string_view, 2> crash_channels = {u"System", u"Application"};

// At most this many events per channel, newest first; events fetched but not
// renderable count too.
inline constexpr int max_events_per_channel = 20;

// XML renderings larger than this many bytes are left out of the report.
inline constexpr std::uint32_t max_event_xml_bytes = 65536;

// The event-log query (XPath) for a channel: a name starting with 'S' takes
// the System query, anything else the Application query.
std::u16string_view crash_query_for(std::u16string_view channel);

// One rendered event; the views only need to live for the append call.
struct CrashEvent {
  std::uint32_t id = 0;
  std::uint64_t ticks = 0;                 // creation time, 100-ns units since 1601
  std::u16string_view provider;            // empty when the event names none
  std::optional<std::u16string_view> xml;  // absent when not rendered or too large
};

// Writes the array: "[", the objects separated by ",", "]".
class CrashReportWriter {
 public:
  explicit CrashReportWriter(std::string& out);
  void add_event(std::u16string_view channel, const CrashEvent& event);
  // Stands in for the events of a channel that could not be queried.
  void add_channel_error(std::u16string_view channel, std::uint32_t error);
  void finish();

 private:
  JsonWriter json_;
};

}  // namespace mirrow::inspector
