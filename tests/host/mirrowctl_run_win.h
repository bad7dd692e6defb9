#pragma once
// Runs the built mirrowctl.exe as a user would, with its standard output and
// error captured in files and its standard input on a pipe the test holds.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "support/products_win.h"
#include "support/temp_dir_win.h"

namespace mirrow::host::testing {

using mirrow::testing::fresh_temp_directory;
using mirrow::testing::mirrowctl_path;
using mirrow::testing::remove_tree;

struct Outcome {
  DWORD exit_code = STILL_ACTIVE;
  std::string out;
  std::string err;
};

class Mirrowctl {
 public:
  // Starts `program` (default: the mirrowctl.exe beside this test program) with `arguments`.
  explicit Mirrowctl(const std::vector<std::wstring>& arguments, std::wstring program = {});
  ~Mirrowctl();
  Mirrowctl(const Mirrowctl&) = delete;
  Mirrowctl& operator=(const Mirrowctl&) = delete;

  bool started() const { return process_.valid(); }
  DWORD pid() const { return pid_; }
  void type(std::string_view bytes);
  // Waits for the end (killing it after `timeout_ms`) and collects the output.
  Outcome finish(DWORD timeout_ms);

 private:
  std::wstring directory_;
  UniqueHandle process_;
  DWORD pid_ = 0;
  UniqueHandle input_;
};

// Starts, waits and collects in one go.
Outcome run_mirrowctl(const std::vector<std::wstring>& arguments, DWORD timeout_ms = 60000);

// Writes a file of `size` bytes.
void make_file(const std::wstring& path, std::size_t size);

}  // namespace mirrow::host::testing
