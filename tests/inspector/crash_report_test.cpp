#include "inspector/crash_report.h"

#include <gtest/gtest.h>

namespace mirrow::inspector {
namespace {

TEST(CrashQuery, the_channel_name_s_first_letter_chooses_the_query) {
  const std::u16string_view system_query =
      u"*[System[(EventID=41 or EventID=1001 or EventID=6008) and TimeCreated[timediff(@SystemTime)<=604800000]]]";
  const std::u16string_view application_query =
      u"*[System[(EventID=1000 or EventID=1001) and TimeCreated[timediff(@SystemTime)<=3600000]]]";
  EXPECT_EQ(crash_query_for(u"System"), system_query);
  EXPECT_EQ(crash_query_for(u"Setup"), system_query);
  EXPECT_EQ(crash_query_for(u"Application"), application_query);
  EXPECT_EQ(crash_query_for(u"system"), application_query);
  EXPECT_EQ(crash_query_for(u""), application_query);
}

TEST(CrashReport, without_events_the_report_is_an_empty_array) {
  std::string out;
  CrashReportWriter report(out);
  report.finish();
  EXPECT_EQ(out, "[]");
}

TEST(CrashReport, an_unreadable_channel_becomes_an_error_object_beside_the_events_of_the_other) {
  std::string out;
  CrashReportWriter report(out);
  report.add_channel_error(u"System", 5);
  report.add_event(u"Application", CrashEvent{1000, 133485408000000000, u"Application Error", std::nullopt});
  report.add_event(u"Application", CrashEvent{1001, 1, u"", u"<Event/>"});
  report.finish();
  EXPECT_EQ(out,
            "[{\"id\":0,\"ticks\":\"0\",\"channel\":\"System\",\"provider\":\"unavailable\",\"error\":5},"
            "{\"id\":1000,\"ticks\":\"133485408000000000\",\"channel\":\"Application\",\"provider\":\"Application Error\"},"
            "{\"id\":1001,\"ticks\":\"1\",\"channel\":\"Application\",\"provider\":\"\",\"xml\":\"<Event/>\"}]");
}

TEST(CrashReport, xml_attribute_quotes_and_non_ascii_text_are_escaped) {
  std::string out;
  CrashReportWriter report(out);
  report.add_event(u"System", CrashEvent{41, 7, u"Kernel-Power", u"<Data Name=\"x\">\u00e9\r\n</Data>"});
  report.finish();
  EXPECT_EQ(out,
            "[{\"id\":41,\"ticks\":\"7\",\"channel\":\"System\",\"provider\":\"Kernel-Power\","
            "\"xml\":\"<Data Name=\\\"x\\\">\\u00e9\\u000d\\u000a</Data>\"}]");
}

}  // namespace
}  // namespace mirrow::inspector
