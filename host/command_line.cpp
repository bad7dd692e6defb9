#include "host/command_line.h"

#include <array>
#include <limits>
#include <optional>

#include "common/utf16.h"

namespace mirrow::host {
namespace {

struct NamedSubcommand {
  std::u16string_view word;
  std::string_view name;
  Subcommand command;
};

constexpr std::array<NamedSubcommand, 12> kSubcommands{{
    {u"scan", "scan", Subcommand::scan},
    {u"watch", "watch", Subcommand::watch},
    {u"ps", "ps", Subcommand::ps},
    {u"mem", "mem", Subcommand::mem},
    {u"load", "load", Subcommand::load},
    {u"crashes", "crashes", Subcommand::crashes},
    {u"freeze", "freeze", Subcommand::freeze},
    {u"selftest", "selftest", Subcommand::selftest},
    {u"check", "check", Subcommand::check},
    {u"recover", "recover", Subcommand::recover},
    {u"replay", "replay", Subcommand::replay},
    {u"record", "record", Subcommand::record},
}};

// Plain decimal digits only: a sign, a space or a suffix is a mistake the
// user should hear about rather than a number read halfway.
std::optional<std::uint64_t> decimal(std::u16string_view text, std::uint64_t max) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    const std::uint64_t digit = c - u'0';
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

class Parser {
 public:
  Parser(Subcommand command, const std::vector<std::u16string>& arguments) : arguments_(arguments) {
    request_.command = command;
  }

  ParsedCommandLine run() {
    std::vector<std::u16string> positional;
    for (next_ = 1; next_ < arguments_.size();) {
      const std::u16string& argument = arguments_[next_++];
      if (argument == u"--help" || argument == u"-h") {
        request_.help = true;
        return request_;
      }
      if (argument.size() > 2 && argument.starts_with(u"--")) {
        if (!option(argument)) return error_;
      } else {
        positional.push_back(argument);
      }
    }
    if (!positionals(positional)) return error_;
    return request_;
  }

 private:
  bool fail(std::string message) {
    error_ = UsageError{request_.command, std::move(message)};
    return false;
  }

  bool allowed(std::u16string_view option, std::initializer_list<Subcommand> commands) {
    for (const Subcommand command : commands)
      if (command == request_.command) return true;
    return fail(utf8_from_utf16(option) + " is not an option of " + std::string(subcommand_name(request_.command)));
  }

  std::optional<std::u16string> value_of(std::u16string_view option) {
    if (next_ >= arguments_.size()) {
      fail(utf8_from_utf16(option) + " needs a value");
      return std::nullopt;
    }
    return arguments_[next_++];
  }

  bool number(std::u16string_view option, std::uint64_t min, std::uint64_t max, std::uint64_t& out) {
    const auto text = value_of(option);
    if (!text) return false;
    const auto value = decimal(*text, std::numeric_limits<std::uint64_t>::max());
    if (!value || *value < min || *value > max)
      return fail(utf8_from_utf16(option) + " takes a whole number from " + std::to_string(min) + " to " +
                  std::to_string(max) + ", not \"" + utf8_from_utf16(*text) + "\"");
    out = *value;
    return true;
  }

  // A non-empty path option that may be given again.
  bool path_value(std::u16string_view option, std::vector<std::u16string>& into) {
    const auto path = value_of(option);
    if (!path) return false;
    if (path->empty()) return fail(utf8_from_utf16(option) + " needs a non-empty path");
    into.push_back(*path);
    return true;
  }

  bool option(std::u16string_view name) {
    using enum Subcommand;
    if (name == u"--json")
      return allowed(name, {scan, watch, ps, mem, load, crashes, check, recover, replay}) && (request_.json = true);
    if (name == u"--dry-run") return allowed(name, {recover}) && (request_.dry_run = true);
    if (name == u"--diagnostics") return allowed(name, {check}) && (request_.diagnostics = true);
    if (name == u"--capture") return allowed(name, {watch}) && (request_.capture = true);
    if (name == u"--root") return allowed(name, {replay}) && path_value(name, request_.roots);
    if (name == u"--missing") return allowed(name, {replay, record}) && path_value(name, request_.missing);
    if (name == u"--device") {
      if (!allowed(name, {replay})) return false;
      const auto entry = value_of(name);
      if (!entry) return false;
      const std::size_t equals = entry->rfind(u'=');
      if (equals == 0 || equals == std::u16string::npos || equals + 1 == entry->size())
        return fail("--device takes DEVICE=DRIVE, such as \\Device\\HarddiskVolume2=C:, not \"" +
                    utf8_from_utf16(*entry) + "\"");
      request_.devices.push_back(*entry);
      return true;
    }
    if (name == u"--exclude") {
      if (!allowed(name, {scan, watch, replay})) return false;
      const auto path = value_of(name);
      if (!path) return false;
      if (path->empty()) return fail("--exclude needs a non-empty path");
      request_.exclusions.push_back(*path);
      return true;
    }
    if (name == u"--top") return allowed(name, {scan}) && number(name, 1, 10000, request_.top);
    if (name == u"--walk") return allowed(name, {scan}) && (request_.walk = true);
    if (name == u"--batches") return allowed(name, {scan}) && (request_.batches = true);
    if (name == u"--ntfs-image") return allowed(name, {scan}) && ntfs_image(name);
    if (name == u"--seconds") return allowed(name, {watch, record}) && number(name, 1, 86400, request_.seconds);
    if (name == u"--samples") return allowed(name, {load}) && number(name, 1, 3600, request_.samples);
    if (name == u"--lease") {
      std::uint64_t lease = 0;
      if (!allowed(name, {freeze}) || !number(name, 1, 600, lease)) return false;
      request_.lease = static_cast<std::uint32_t>(lease);
      return true;
    }
    if (name == u"--journal") {
      if (!allowed(name, {freeze})) return false;
      const auto path = value_of(name);
      if (!path) return false;
      request_.journal = *path;
      return true;
    }
    return fail("unknown option " + utf8_from_utf16(name));
  }

  // FILE or FILE@OFFSET: an @ followed by digits alone ends the file name.
  bool ntfs_image(std::u16string_view option) {
    const auto text = value_of(option);
    if (!text) return false;
    std::u16string file = *text;
    const std::size_t at = file.rfind(u'@');
    if (at != std::u16string::npos && at + 1 < file.size()) {
      if (const auto offset = decimal(std::u16string_view(file).substr(at + 1), std::numeric_limits<std::uint64_t>::max())) {
        request_.ntfs_image_offset = *offset;
        file.resize(at);
      }
    }
    if (file.empty()) return fail("--ntfs-image needs a file");
    request_.ntfs_image = file;
    return true;
  }

  bool positionals(const std::vector<std::u16string>& values) {
    using enum Subcommand;
    switch (request_.command) {
      case scan:
        if (values.size() != 1) return fail("scan takes exactly one directory");
        if (request_.walk && !request_.ntfs_image.empty()) return fail("--walk and --ntfs-image exclude each other");
        request_.directories = values;
        return true;
      case watch:
        if (values.empty()) return fail("watch needs at least one directory");
        request_.directories = values;
        return true;
      case replay:
      case record:
        if (values.size() != 1) return fail(std::string(subcommand_name(request_.command)) + " takes exactly one trace file");
        request_.trace_file = values[0];
        if (request_.command == record && request_.seconds == 0) return fail("record needs --seconds N");
        return true;
      case freeze: {
        if (values.size() != 1) return fail("freeze takes exactly one process id");
        const auto pid = decimal(values[0], std::numeric_limits<std::uint32_t>::max());
        if (!pid || *pid == 0) return fail("\"" + utf8_from_utf16(values[0]) + "\" is not a process id");
        request_.pid = static_cast<std::uint32_t>(*pid);
        if (request_.lease == 0) return fail("freeze needs --lease S (1 to 600 seconds)");
        return true;
      }
      default:
        if (!values.empty()) return fail("unexpected argument \"" + utf8_from_utf16(values[0]) + "\"");
        return true;
    }
  }

  const std::vector<std::u16string>& arguments_;
  std::size_t next_ = 1;
  Request request_;
  UsageError error_;
};

}  // namespace

std::string_view subcommand_name(Subcommand command) {
  for (const auto& named : kSubcommands)
    if (named.command == command) return named.name;
  return "mirrowctl";
}

ParsedCommandLine parse_command_line(const std::vector<std::u16string>& arguments) {
  if (arguments.empty()) return UsageError{Subcommand::none, "a subcommand is needed"};
  const std::u16string& first = arguments[0];
  if (first == u"--help" || first == u"-h" || first == u"help") {
    Request request;
    request.help = true;
    return request;
  }
  if (first == u"--version") {
    if (arguments.size() > 1) return UsageError{Subcommand::none, "--version takes no arguments"};
    Request request;
    request.version = true;
    return request;
  }
  for (const auto& named : kSubcommands)
    if (first == named.word) return Parser(named.command, arguments).run();
  return UsageError{Subcommand::none, "unknown subcommand \"" + utf8_from_utf16(first) + "\""};
}

}  // namespace mirrow::host
