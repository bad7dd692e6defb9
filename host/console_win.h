#pragma once
// The console side of mirrowctl: UTF-8 output to a console or a pipe,
// Ctrl+C, the local time offset, and paths beside the program.
#include <cstdint>
#include <string>
#include <string_view>

namespace mirrow::host {

// Output code page UTF-8 and the Ctrl+C handler; call once at start.
void prepare_console();

// Writes UTF-8 text: to a console as UTF-16 (so any code page shows it), to
// a pipe or file as the bytes themselves.
void write_out(std::string_view utf8);
void write_err(std::string_view utf8);
bool error_is_console();

// Set once Ctrl+C (or Ctrl+Break) was pressed.
bool interrupted();

// The local time's offset from UTC now, in seconds.
std::int64_t utc_offset_seconds();

// The absolute form of a path the user typed; the path itself if that fails.
std::u16string absolute_path(const std::u16string& path);

// A file in the folder that holds mirrowctl.exe.
std::u16string beside_program(std::u16string_view file_name);

}  // namespace mirrow::host
