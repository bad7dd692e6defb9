#include "inspector/crash_report.h"

#include "inspector/report_members.h"

namespace mirrow::inspector {

std::u16string_view crash_query_for(std::u16string_view channel) {
  if (!channel.empty() && channel.front() == u'S') {
    return u"*[System[(EventID=41 or EventID=1001 or EventID=6008) and TimeCreated[timediff(@SystemTime)<=604800000]]]";
  }
  return u"*[System[(EventID=1000 or EventID=1001) and TimeCreated[timediff(@SystemTime)<=3600000]]]";
}

CrashReportWriter::CrashReportWriter(std::string& out) : out_(out) { out_ += '['; }

void CrashReportWriter::open_object() {
  if (!first_) out_ += ',';
  first_ = false;
  out_ += '{';
}

void CrashReportWriter::add_event(std::u16string_view channel, const CrashEvent& event) {
  open_object();
  append_number(out_, "\"id\":", event.id);
  append_quoted_number(out_, ",\"ticks\":", event.ticks);
  append_text(out_, ",\"channel\":", channel);
  append_text(out_, ",\"provider\":", event.provider);
  if (event.xml) append_text(out_, ",\"xml\":", *event.xml);
  out_ += '}';
}

void CrashReportWriter::add_channel_error(std::u16string_view channel, std::uint32_t error) {
  open_object();
  out_ += "\"id\":0,\"ticks\":\"0\"";
  append_text(out_, ",\"channel\":", channel);
  out_ += ",\"provider\":\"unavailable\"";
  append_number(out_, ",\"error\":", error);
  out_ += '}';
}

void CrashReportWriter::finish() { out_ += ']'; }

}  // namespace mirrow::inspector
