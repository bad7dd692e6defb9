#include "host/freeze_records.h"

#include <charconv>

#include "common/json_text.h"
#include "common/json_writer.h"
#include "common/utf16.h"
#include "host/guard_dialogue.h"
#include "host/json_value.h"

namespace mirrow::host {
namespace {

// Plain decimal digits that fit the type; a sign, a space or anything after
// the digits makes it no number.
template <typename Number>
std::optional<Number> whole_number(std::string_view digits) {
  Number value{};
  const char* const end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::string_view outcome_word(RecoveryOutcome outcome) {
  switch (outcome) {
    case RecoveryOutcome::resumed: return "resumed";
    case RecoveryOutcome::abandoned: return "abandoned";
    case RecoveryOutcome::guard_running: return "guard_running";
    case RecoveryOutcome::nothing_to_do: return "nothing_to_do";
    case RecoveryOutcome::would_recover: return "would_recover";
    case RecoveryOutcome::failed: break;
  }
  return "failed";
}

RecoveryResult failure(std::string problem, std::optional<std::int64_t> status = std::nullopt) {
  return RecoveryResult{RecoveryOutcome::failed, status, std::move(problem)};
}

}  // namespace

std::u16string freezes_folder(std::u16string_view local_app_data) {
  std::u16string folder(local_app_data);
  if (!folder.empty() && folder.back() != u'\\') folder += u'\\';
  return folder + u"Mirrow\\freezes";
}

std::u16string record_stem(const FreezeIdentity& identity) {
  return decimal16(identity.pid) + u"-" + decimal16(identity.created);
}

std::vector<std::u16string> recovery_arguments(const FreezeIdentity& identity, std::u16string_view image,
                                               std::u16string_view journal) {
  return {u"--recover", decimal16(identity.pid), decimal16(identity.created), std::u16string(image),
          std::u16string(journal)};
}

std::optional<FreezeIdentity> identity_of_journal(std::u16string_view file_name) {
  if (!file_name.ends_with(kJournalSuffix)) return std::nullopt;
  file_name.remove_suffix(kJournalSuffix.size());
  const std::string stem = utf8_from_utf16(file_name);
  const std::size_t dash = stem.find('-');
  if (dash == std::string::npos) return std::nullopt;
  const auto pid = whole_number<std::uint32_t>(std::string_view(stem).substr(0, dash));
  const auto created = whole_number<std::uint64_t>(std::string_view(stem).substr(dash + 1));
  if (!pid || *pid == 0 || !created) return std::nullopt;
  return FreezeIdentity{*pid, *created};
}

std::string image_record_text(std::u16string_view image_path) {
  std::string text;
  json_quote(text, image_path);
  return text;
}

// A Windows path never holds a double quote, so a record that starts with
// one is the JSON form; anything else is the UTF-8 text older versions wrote.
std::optional<std::u16string> image_path_of_record(std::string_view contents) {
  while (!contents.empty() && (contents.back() == '\n' || contents.back() == '\r')) contents.remove_suffix(1);
  if (contents.starts_with('"')) {
    const auto quoted = parse_json(contents);
    if (!quoted || quoted->kind != JsonValue::Kind::string || quoted->text.empty()) return std::nullopt;
    return quoted->text;
  }
  if (contents.empty()) return std::nullopt;
  return utf16_from_utf8(contents);
}

RecoveryResult read_recovery_answer(std::uint32_t exit_code, const std::vector<std::string>& lines) {
  const auto first = lines.empty() ? std::nullopt : parse_json(lines.front());
  const std::u16string state = first ? (*first)["state"].as_text() : std::u16string();
  const std::optional<std::int64_t> status = first ? (*first)["status"].as_i64() : std::nullopt;
  if (exit_code == 0 && state == u"guard_running") return {RecoveryOutcome::guard_running, std::nullopt, {}};
  if (exit_code == 0 && state == u"nothing_to_recover") return {RecoveryOutcome::nothing_to_do, std::nullopt, {}};
  if (exit_code == 0 && state == u"resumed") return {RecoveryOutcome::resumed, status, {}};
  if (exit_code == 4 && state == u"abandoned") return {RecoveryOutcome::abandoned, std::nullopt, {}};
  if (exit_code == 5 && status) return failure("the resume failed, status " + std::to_string(*status), status);
  return failure("the guard answered " + (lines.empty() ? std::string("nothing") : "\"" + lines.front() + "\"") +
                 " with exit code " + std::to_string(exit_code));
}

std::string outcome_text(const RecoveryResult& result) {
  switch (result.outcome) {
    case RecoveryOutcome::resumed: return "resumed";
    case RecoveryOutcome::abandoned: return "abandoned (the process is gone)";
    case RecoveryOutcome::guard_running: return "guard running (left alone)";
    case RecoveryOutcome::nothing_to_do: return "nothing to do";
    case RecoveryOutcome::would_recover: return "frozen, would be resumed (dry run)";
    case RecoveryOutcome::failed: break;
  }
  return "FAILED: " + result.problem;
}

std::string recovery_json_line(const FreezeIdentity& identity, std::u16string_view image,
                               std::u16string_view journal, const RecoveryResult& result) {
  std::string line;
  JsonWriter json(line);
  json.begin_object()
      .key("pid").u64(identity.pid)
      .key("created").u64(identity.created)
      .key("image").text(image)
      .key("journal").text(journal)
      .key("outcome").word(outcome_word(result.outcome));
  if (result.status) json.key("status").i64(*result.status);
  if (!result.problem.empty()) json.key("problem").text(utf16_from_utf8(result.problem));
  json.end_object();
  return line;
}

}  // namespace mirrow::host
