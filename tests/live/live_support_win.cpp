#include "tests/live/live_support_win.h"

#include <evntrace.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/unique_handle.h"
#include "common/utf16.h"
#include "host/check_report.h"
#include "host/system_facts_win.h"
#include "support/temp_dir_win.h"

namespace mirrow::live {

std::optional<std::string> cannot_run_here(const std::string& wine_lacks, bool needs_rights) {
  if (host::running_under_wine()) return "Wine (ntdll exports wine_get_version) has no " + wine_lacks;
  if (needs_rights && !host::process_is_elevated()) return "not elevated: this case needs administrator rights";
  return std::nullopt;
}

std::wstring long_form(const std::wstring& path) {
  std::wstring result(32768, L'\0');
  const DWORD length = GetLongPathNameW(path.c_str(), result.data(), static_cast<DWORD>(result.size()));
  if (length == 0 || length >= result.size()) return path;
  result.resize(length);
  return result;
}

std::vector<std::u16string> engine_sessions() {
  const host::TraceSessionList list = host::list_trace_sessions();
  return host::engine_session_names(list.names);
}

void stop_sessions(const std::vector<std::u16string>& sessions) {
  for (const std::u16string& name : sessions) {
    struct {
      EVENT_TRACE_PROPERTIES properties;
      wchar_t name[1024];
    } block{};
    block.properties.Wnode.BufferSize = sizeof block;
    block.properties.LoggerNameOffset = offsetof(decltype(block), name);
    ControlTraceW(0, wide(name.c_str()), &block.properties, EVENT_TRACE_CONTROL_STOP);
  }
}

std::string listed(const std::vector<std::u16string>& sessions) {
  std::string text;
  for (const std::u16string& name : sessions) text += " " + utf8_from_utf16(name);
  return text.empty() ? " (none)" : text;
}

std::vector<host::ActivityRecord> drain_all(vt_engine* engine) {
  std::vector<host::ActivityRecord> records;
  for (int batch = 0; batch < 1000; ++batch) {
    std::uint64_t length = 0;
    const char* text = testing::vantrel().vt_drain(engine, &length);
    const auto parsed = text == nullptr ? std::nullopt : host::parse_drain(std::string_view(text, length));
    if (!parsed || parsed->records.empty()) break;
    records.insert(records.end(), parsed->records.begin(), parsed->records.end());
  }
  return records;
}

bool new_file_reported(vt_engine* engine, const std::wstring& path) {
  constexpr std::uint32_t kAdded = 7;
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return false;
  const std::u16string tail = u"\\" + std::u16string(utf16(path.substr(path.find_last_of(L'\\') + 1).c_str()));
  for (int round = 0; round < 25; ++round) {
    Sleep(200);
    for (const auto& record : drain_all(engine))
      if (record.kind == kAdded && record.path.ends_with(tail)) return true;
  }
  return false;
}

std::vector<std::uint64_t> statistics(vt_engine* engine) {
  std::vector<std::uint64_t> values(13);
  testing::vantrel().vt_stats(engine, values.data(), values.size());
  return values;
}

host::JsonValue diagnostics(vt_engine* engine) {
  std::uint64_t length = 0;
  const char* text = testing::vantrel().vt_diagnostics(engine, &length);
  if (text == nullptr) return {};
  return host::parse_json(std::string_view(text, length)).value_or(host::JsonValue{});
}

std::string telvyn_report(const char* export_name) {
  static const HMODULE telvyn = LoadLibraryW(testing::beside_this_program(L"Telvyn.dll").c_str());
  if (telvyn == nullptr) return {};
  using Report = const char*(WINAPI*)(std::uint64_t*);
  const auto report = reinterpret_cast<Report>(reinterpret_cast<void*>(GetProcAddress(telvyn, export_name)));
  if (report == nullptr) return {};
  std::uint64_t length = 0;
  const char* text = report(&length);
  return text == nullptr ? std::string() : std::string(text, length);
}

std::optional<Finished> run_to_end(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                   DWORD timeout_ms, HANDLE token) {
  testing::TempDir folder;
  const std::wstring log = folder / L"output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle output(CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output) return std::nullopt;
  std::wstring command_line = L"\"" + program + L"\"";
  for (const std::wstring& argument : arguments) command_line += L" \"" + argument + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  PROCESS_INFORMATION created{};
  const BOOL started =
      token == nullptr
          ? CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                           nullptr, &startup, &created)
          : CreateProcessAsUserW(token, program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW, nullptr, nullptr, &startup, &created);
  if (!started) return std::nullopt;
  output.reset();
  const UniqueHandle process(created.hProcess);
  CloseHandle(created.hThread);
  Finished finished;
  finished.pid = created.dwProcessId;
  if (WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 99);
    WaitForSingleObject(process.get(), 5000);
  }
  GetExitCodeProcess(process.get(), &finished.exit_code);
  std::ifstream file(log.c_str(), std::ios::binary);
  finished.output.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return finished;
}

HANDLE token_without_administrators() {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY, &own))
    return nullptr;
  const UniqueHandle token(own);
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof sid;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sid_size)) return nullptr;
  SID_AND_ATTRIBUTES deny_only{sid, 0};
  HANDLE restricted = nullptr;
  if (!CreateRestrictedToken(token.get(), 0, 1, &deny_only, 0, nullptr, 0, nullptr, &restricted)) return nullptr;
  return restricted;
}

std::optional<std::string> cannot_read_and_execute(HANDLE token, const std::wstring& path) {
  const std::string file = utf8_from_utf16(utf16(path.c_str()));
  const auto failed = [](const std::string& what) {
    return what + " (error " + std::to_string(GetLastError()) + ")";
  };
  constexpr SECURITY_INFORMATION kParts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                          DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  GetFileSecurityW(path.c_str(), kParts, nullptr, 0, &size);
  std::vector<BYTE> descriptor(size);
  if (size == 0 || !GetFileSecurityW(path.c_str(), kParts, descriptor.data(), size, &size))
    return failed("the security of " + file + " cannot be read");
  // AccessCheck takes an impersonation token; the restricted one is primary.
  UniqueHandle impersonation;
  if (!DuplicateToken(token, SecurityImpersonation, impersonation.put()))
    return failed("the restricted token cannot be duplicated for an access check");
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  std::vector<BYTE> privileges(256);  // room for any privileges the check reports
  DWORD privileges_size = static_cast<DWORD>(privileges.size());
  DWORD granted = 0;
  BOOL allowed = FALSE;
  if (!AccessCheck(descriptor.data(), impersonation.get(), FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, &mapping,
                   reinterpret_cast<PPRIVILEGE_SET>(privileges.data()), &privileges_size, &granted, &allowed))
    return failed("the access check on " + file + " failed");
  if (allowed) return std::nullopt;
  return "a token without the Administrators group may not read and execute " + file;
}

}  // namespace mirrow::live
