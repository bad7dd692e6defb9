#include "inspector/crashes_win.h"

#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "common/unique_handle.h"
#include "inspector/crash_report.h"

namespace mirrow::inspector {
namespace {

// An event-log handle closed through the calls it came from.
struct EventHandleTraits {
  using pointer = EVT_HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr; }
  void close(pointer h) const noexcept { calls->close(h); }

  const EventLogCalls* calls = nullptr;
};
using EventHandle = Unique<EventHandleTraits>;

EventHandle owned(const EventLogCalls& calls, EVT_HANDLE handle) {
  return EventHandle(handle, EventHandleTraits{&calls});
}

// The rendered system properties of one event: an array of EVT_VARIANT
// indexed by EVT_SYSTEM_PROPERTY_ID, with the strings they point to stored
// behind it in the same buffer.
class SystemValues {
 public:
  static std::optional<SystemValues> render(const EventLogCalls& calls, EVT_HANDLE context, EVT_HANDLE event) {
    DWORD size = 0, count = 0;
    calls.render(context, event, EvtRenderEventValues, 0, nullptr, &size, &count);
    if (size == 0) return std::nullopt;
    SystemValues values(size);
    if (!calls.render(context, event, EvtRenderEventValues, size, values.storage_.get(), &size, &count)) return std::nullopt;
    values.count_ = count;
    return values;
  }

  std::uint32_t event_id() const {
    const EVT_VARIANT* value = property(EvtSystemEventID, EvtVarTypeUInt16);
    return value != nullptr ? value->UInt16Val : 0;
  }

  std::uint64_t time_created() const {
    const EVT_VARIANT* value = property(EvtSystemTimeCreated, EvtVarTypeFileTime);
    return value != nullptr ? value->FileTimeVal : 0;
  }

  // Empty when the event names no provider; never read past the buffer.
  std::u16string_view provider() const {
    const EVT_VARIANT* value = property(EvtSystemProviderName, EvtVarTypeString);
    if (value == nullptr || value->StringVal == nullptr) return {};
    const auto* begin = reinterpret_cast<const char*>(storage_.get());
    const auto* text = reinterpret_cast<const char*>(value->StringVal);
    if (text < begin || text >= begin + size_) return {};
    const std::u16string_view rest(utf16(value->StringVal), (begin + size_ - text) / sizeof(char16_t));
    return rest.substr(0, rest.find(u'\0'));
  }

 private:
  explicit SystemValues(DWORD size)
      : storage_(new std::uint64_t[(size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t)]()), size_(size) {}

  // The value at `index` if the rendered buffer holds it with the given type.
  const EVT_VARIANT* property(int index, EVT_VARIANT_TYPE type) const {
    if (static_cast<DWORD>(index) >= count_ || (index + 1) * sizeof(EVT_VARIANT) > size_) return nullptr;
    const EVT_VARIANT* value = reinterpret_cast<const EVT_VARIANT*>(storage_.get()) + index;
    return (value->Type & EVT_VARIANT_TYPE_MASK) == static_cast<DWORD>(type) ? value : nullptr;
  }

  std::unique_ptr<std::uint64_t[]> storage_;  // 8-byte aligned for the variants
  DWORD size_ = 0;
  DWORD count_ = 0;
};

// The whole event as XML, or nullopt when it cannot be rendered or needs
// more than max_event_xml_bytes.
std::optional<std::u16string> render_xml(const EventLogCalls& calls, EVT_HANDLE event) {
  DWORD size = 0, count = 0;
  calls.render(nullptr, event, EvtRenderEventXml, 0, nullptr, &size, &count);
  if (size < 1 || size > max_event_xml_bytes) return std::nullopt;
  // Whole UTF-16 units plus one, so that the text always ends in a NUL.
  std::u16string xml(size / sizeof(char16_t) + 1, u'\0');
  const DWORD buffer_size = static_cast<DWORD>(xml.size() * sizeof(char16_t));
  if (!calls.render(nullptr, event, EvtRenderEventXml, buffer_size, xml.data(), &size, &count)) return std::nullopt;
  const std::size_t end = xml.find(u'\0');
  if (end != std::u16string::npos) xml.resize(end);
  return xml;
}

void report_event(CrashReportWriter& report, std::u16string_view channel, const EventLogCalls& calls,
                  EVT_HANDLE context, EVT_HANDLE event) {
  const std::optional<SystemValues> values = SystemValues::render(calls, context, event);
  if (!values) return;
  const std::optional<std::u16string> xml = render_xml(calls, event);
  CrashEvent crash;
  crash.id = values->event_id();
  crash.ticks = values->time_created();
  crash.provider = values->provider();
  if (xml) crash.xml = *xml;
  report.add_event(channel, crash);
}

void report_channel(CrashReportWriter& report, std::u16string_view channel, const EventLogCalls& calls) {
  const std::u16string path(channel);
  const std::u16string query(crash_query_for(channel));
  const EventHandle results = owned(
      calls, calls.query(nullptr, wide(path.c_str()), wide(query.c_str()), EvtQueryChannelPath | EvtQueryReverseDirection));
  if (!results) {
    report.add_channel_error(channel, GetLastError());
    return;
  }
  const EventHandle context = owned(calls, calls.create_render_context(0, nullptr, EvtRenderContextSystem));
  if (!context) return;
  for (int taken = 0; taken < max_events_per_channel; ++taken) {
    EVT_HANDLE next = nullptr;
    DWORD returned = 0;
    if (!calls.next(results.get(), 1, &next, 0, 0, &returned) || returned == 0 || next == nullptr) return;
    const EventHandle event = owned(calls, next);
    report_event(report, channel, calls, context.get(), event.get());
  }
}

}  // namespace

const EventLogCalls& windows_event_log_calls() {
  static const EventLogCalls calls{&EvtQuery, &EvtNext, &EvtCreateRenderContext, &EvtRender, &EvtClose};
  return calls;
}

void write_crash_report(std::string& out, const EventLogCalls& calls) {
  CrashReportWriter report(out);
  for (const std::u16string_view channel : crash_channels) report_channel(report, channel, calls);
  report.finish();
}

}  // namespace mirrow::inspector
