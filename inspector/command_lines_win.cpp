#include "inspector/command_lines_win.h"

#include <objbase.h>
#include <wbemcli.h>

#include <mutex>

#include "common/clock.h"
#include "common/scope_exit.h"
#include "inspector/com_ptr_win.h"
#include "inspector/same_process_win.h"

namespace mirrow::inspector {
namespace {

class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* put() { return &value_; }
  const VARIANT& get() const { return value_; }

 private:
  VARIANT value_;
};

std::optional<std::u16string> string_of(const VARIANT& value) {
  if (value.vt != VT_BSTR) return std::nullopt;
  return std::u16string(utf16(value.bstrVal), SysStringLen(value.bstrVal));
}

WmiRow read_row(IWbemClassObject& object) {
  Variant process_id, command_line, creation_date;
  object.Get(L"ProcessId", 0, process_id.put(), nullptr, nullptr);
  object.Get(L"CommandLine", 0, command_line.put(), nullptr, nullptr);
  object.Get(L"CreationDate", 0, creation_date.put(), nullptr, nullptr);
  return wmi_row_from_variants(process_id.get(), command_line.get(), creation_date.get());
}

WmiStep next_row(void* context, std::uint32_t timeout_ms) {
  auto& rows = *static_cast<IEnumWbemClassObject*>(context);
  UniqueCom<IWbemClassObject> object;
  ULONG returned = 0;
  WmiStep step;
  step.code = rows.Next(static_cast<LONG>(timeout_ms), 1, object.put(), &returned);
  if (returned == 1 && object) step.row = read_row(*object.get());
  return step;
}

// Locator, connection to ROOT\CIMV2, proxy security and the query; the
// first failing code, or S_OK with `rows` set.
HRESULT query_processes(UniqueCom<IWbemLocator>& locator, UniqueCom<IWbemServices>& services,
                        UniqueCom<IEnumWbemClassObject>& rows) {
  HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(locator.put()));
  if (FAILED(hr)) return hr;
  const Bstr name_space(L"ROOT\\CIMV2");
  if (name_space.get() == nullptr) return E_OUTOFMEMORY;
  hr = locator.get()->ConnectServer(name_space.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.put());
  if (FAILED(hr)) return hr;
  hr = CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(hr)) return hr;
  const Bstr language(L"WQL");
  const Bstr query(L"SELECT ProcessId,CommandLine,CreationDate FROM Win32_Process");
  if (language.get() == nullptr || query.get() == nullptr) return E_OUTOFMEMORY;
  return services.get()->ExecQuery(language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                   nullptr, rows.put());
}

}  // namespace

WmiRow wmi_row_from_variants(const VARIANT& process_id, const VARIANT& command_line, const VARIANT& creation_date) {
  WmiRow row;
  if (process_id.vt == VT_I4) row.process_id = static_cast<std::uint32_t>(process_id.lVal);
  else if (process_id.vt == VT_UI4) row.process_id = process_id.ulVal;
  row.command_line = string_of(command_line);
  row.creation_date = string_of(creation_date);
  return row;
}

std::int32_t fill_command_lines(ProcessTable& table) {
  const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(initialised)) return initialised;
  // Declared first so that it runs last, after every interface is released.
  const auto leave_apartment = scope_exit([] { CoUninitialize(); });
  // One query at a time in this process, held until every interface is
  // released. Where the WMI provider runs inside the calling process (as under
  // Wine), a query started while another thread still reads its rows can
  // refill the rows under that reader and crash the host; a snapshot waiting
  // for another costs little.
  static std::mutex one_query_at_a_time;
  const std::lock_guard hold(one_query_at_a_time);
  UniqueCom<IWbemLocator> locator;
  UniqueCom<IWbemServices> services;
  UniqueCom<IEnumWbemClassObject> rows;
  const HRESULT queried = query_processes(locator, services, rows);
  if (FAILED(queried)) return queried;
  if (!rows) return 0;
  const WmiRowSource source{&next_row, rows.get(), &tick_ms, &still_same_process};
  return join_wmi_rows(table, source);
}

}  // namespace mirrow::inspector
