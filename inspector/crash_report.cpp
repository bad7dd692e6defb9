#include "inspector/crash_report.h"

#include "common/json_writer.h"

namespace mirrow::inspector {

std::u16string_view crash_query_for(std::u16string_view channel) {
  if (!channel.empty() && channel.front() == u'S') {
    return u"*[System[(EventID=41 or EventID=1001 or EventID=6008) and TimeCreated[timediff(@SystemTime)<=604800000]]]";
  }
  return u"*[System[(EventID=1000 or EventID=1001) and TimeCreated[timediff(@SystemTime)<=3600000]]]";
}

CrashReportWriter::CrashReportWriter(std::string& out) : json_(out) { json_.begin_array(); }

void CrashReportWriter::add_event(std::u16string_view channel, const CrashEvent& event) {
  json_.begin_object()
      .key("id").u64(event.id)
      .key("ticks").quoted_u64(event.ticks)
      .key("channel").text(channel)
      .key("provider").text(event.provider);
  if (event.xml) json_.key("xml").text(*event.xml);
  json_.end_object();
}

void CrashReportWriter::add_channel_error(std::u16string_view channel, std::uint32_t error) {
  json_.begin_object()
      .key("id").u64(0)
      .key("ticks").quoted_u64(0)
      .key("channel").text(channel)
      .key("provider").word("unavailable")
      .key("error").u64(error)
      .end_object();
}

void CrashReportWriter::finish() { json_.end_array(); }

}  // namespace mirrow::inspector
