#pragma once
// Child processes for the tests and the benchmarks: any program started with
// its standard handles given (the host's end-to-end runs), programs started
// with their standard input and output on pipes that the test holds (the
// guard's), and a counter process whose progress shows whether it runs or is
// frozen.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_handle.h"
#include "support/products_win.h"
#include "support/temp_dir_win.h"

namespace mirrow::testing {

struct PipeEnds {
  UniqueHandle read;
  UniqueHandle write;
};

// A pipe with both ends inheritable at first; the caller keeps its own end
// private with SetHandleInformation.
PipeEnds inheritable_pipe();

struct StartedChild {
  UniqueHandle process;
  DWORD pid = 0;
};

// Starts `program` with each argument quoted and the given standard handles,
// which it inherits; without a console window. No process when it fails.
StartedChild start_child(const std::wstring& program, const std::vector<std::wstring>& arguments, HANDLE input,
                         HANDLE output, HANDLE error);

}  // namespace mirrow::testing

namespace mirrow::guard::testing {

using mirrow::testing::beside_this_program;
using mirrow::testing::fresh_temp_directory;
using mirrow::testing::windows_path_of;

// A whole small file (up to 64 KiB), read while others may write it; empty
// when it cannot be opened.
std::string read_file(const std::wstring& path);
// Replaces the file with exactly `text`.
void write_file(const std::wstring& path, std::string_view text);

std::uint64_t creation_ticks_of(HANDLE process);
std::wstring image_path_of(HANDLE process);

class PipedProcess {
 public:
  // Starts `program` with `arguments`, each quoted; its standard input and
  // output are pipes whose other ends this object holds.
  PipedProcess(const std::wstring& program, const std::vector<std::wstring>& arguments);

  bool started() const { return process_.valid(); }
  HANDLE process() const { return process_.get(); }
  DWORD pid() const { return pid_; }

  void send(std::string_view bytes);
  void close_input() { input_.reset(); }
  // The next line without its line feed; nothing on time-out or end of output.
  std::optional<std::string> next_line(DWORD timeout_ms);
  // Everything written until the output closes (or the time runs out).
  std::string rest_of_output(DWORD timeout_ms);
  // The exit code, or nothing while it still runs after `timeout_ms`.
  std::optional<DWORD> exit_code(DWORD timeout_ms);
  void kill();

 private:
  bool read_more(DWORD timeout_ms);

  UniqueHandle process_;
  DWORD pid_ = 0;
  UniqueHandle input_;
  UniqueHandle output_;
  std::string unread_;
};

// A helper process that keeps counting; killed when the object goes.
class Counter {
 public:
  // `helper` is the path of guard_test_child.exe, by default beside this program.
  explicit Counter(const std::wstring& directory, const std::wstring& helper = beside_this_program(L"guard_test_child.exe"));
  ~Counter();

  HANDLE process() const { return process_.get(); }
  DWORD pid() const { return pid_; }
  std::uint64_t created() const { return created_; }
  const std::wstring& image_path() const { return image_path_; }

  std::uint64_t value() const;
  // The count rises within `within_ms`.
  bool runs(DWORD within_ms = 2000) const;
  // The count does not move for `for_ms`.
  bool stands_still(DWORD for_ms = 300) const;

 private:
  std::wstring file_;
  UniqueHandle process_;
  DWORD pid_ = 0;
  std::uint64_t created_ = 0;
  std::wstring image_path_;
};

// The five arguments that name `counter` as the target.
std::vector<std::wstring> target_arguments(const Counter& counter, std::wstring_view lease,
                                           const std::wstring& journal = L"");

}  // namespace mirrow::guard::testing
