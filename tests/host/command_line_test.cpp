#include "host/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mirrow::host {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

ParsedCommandLine parse(std::vector<std::u16string> arguments) { return parse_command_line(arguments); }

Request request_of(std::vector<std::u16string> arguments) {
  const auto parsed = parse(std::move(arguments));
  EXPECT_TRUE(std::holds_alternative<Request>(parsed));
  return std::holds_alternative<Request>(parsed) ? std::get<Request>(parsed) : Request{};
}

std::string error_of(std::vector<std::u16string> arguments) {
  const auto parsed = parse(std::move(arguments));
  EXPECT_TRUE(std::holds_alternative<UsageError>(parsed));
  return std::holds_alternative<UsageError>(parsed) ? std::get<UsageError>(parsed).message : std::string();
}

TEST(CommandLine, scan_takes_one_directory_repeated_exclusions_a_top_count_and_json) {
  const Request request = request_of({u"scan", u"C:\\data", u"--exclude", u"C:\\data\\a", u"--exclude",
                                      u"C:\\data\\b", u"--top", u"3", u"--json"});
  EXPECT_EQ(request.command, Subcommand::scan);
  EXPECT_THAT(request.directories, ElementsAre(u"C:\\data"));
  EXPECT_THAT(request.exclusions, ElementsAre(u"C:\\data\\a", u"C:\\data\\b"));
  EXPECT_EQ(request.top, 3u);
  EXPECT_TRUE(request.json);
}

TEST(CommandLine, scan_takes_an_image_with_an_optional_offset_the_walk_and_batches) {
  Request request = request_of({u"scan", u"N:\\", u"--ntfs-image", u"Z:\\tmp\\a@b.img@1048576", u"--batches"});
  EXPECT_EQ(request.ntfs_image, u"Z:\\tmp\\a@b.img");
  EXPECT_EQ(request.ntfs_image_offset, 1048576u);
  EXPECT_TRUE(request.batches);
  request = request_of({u"scan", u"N:\\", u"--ntfs-image", u"plain@x.img"});
  EXPECT_EQ(request.ntfs_image, u"plain@x.img") << "an @ not followed by digits alone is part of the name";
  EXPECT_EQ(request.ntfs_image_offset, 0u);
  EXPECT_TRUE(request_of({u"scan", u"d", u"--walk"}).walk);
  EXPECT_EQ(error_of({u"scan", u"d", u"--walk", u"--ntfs-image", u"f"}), "--walk and --ntfs-image exclude each other");
  EXPECT_EQ(error_of({u"ps", u"--batches"}), "--batches is not an option of ps");
}

TEST(CommandLine, watch_takes_several_directories_and_runs_until_interrupted_by_default) {
  const Request request = request_of({u"watch", u"a", u"b", u"--capture"});
  EXPECT_THAT(request.directories, ElementsAre(u"a", u"b"));
  EXPECT_TRUE(request.capture);
  EXPECT_EQ(request.seconds, 0u);
  EXPECT_EQ(request_of({u"watch", u"a", u"--seconds", u"5"}).seconds, 5u);
}

TEST(CommandLine, freeze_needs_a_process_id_and_a_lease_within_one_to_six_hundred_seconds) {
  const Request request = request_of({u"freeze", u"4242", u"--lease", u"600", u"--journal", u"j.txt"});
  EXPECT_EQ(request.pid, 4242u);
  EXPECT_EQ(request.lease, 600u);
  EXPECT_EQ(request.journal, u"j.txt");
  EXPECT_THAT(error_of({u"freeze", u"4242"}), HasSubstr("--lease"));
  EXPECT_THAT(error_of({u"freeze", u"4242", u"--lease", u"0"}), HasSubstr("from 1 to 600"));
  EXPECT_THAT(error_of({u"freeze", u"4242", u"--lease", u"601"}), HasSubstr("from 1 to 600"));
  EXPECT_THAT(error_of({u"freeze", u"0", u"--lease", u"5"}), HasSubstr("not a process id"));
  EXPECT_THAT(error_of({u"freeze", u"99999999999", u"--lease", u"5"}), HasSubstr("not a process id"));
}

TEST(CommandLine, numbers_with_signs_spaces_or_suffixes_are_refused_rather_than_read_halfway) {
  for (const std::u16string text : {u"-3", u"+3", u" 3", u"3s", u"", u"0x10", u"99999999999999999999999"})
    EXPECT_THAT(error_of({u"scan", u"d", u"--top", text}), HasSubstr("whole number")) << text.size();
}

TEST(CommandLine, an_option_of_another_subcommand_is_named_in_the_message) {
  EXPECT_EQ(error_of({u"ps", u"--top", u"3"}), "--top is not an option of ps");
  EXPECT_EQ(error_of({u"selftest", u"--json"}), "--json is not an option of selftest");
  EXPECT_EQ(error_of({u"scan", u"d", u"--bogus"}), "unknown option --bogus");
  EXPECT_EQ(error_of({u"scan", u"d", u"--top"}), "--top needs a value");
}

TEST(CommandLine, wrong_positional_counts_and_unknown_subcommands_are_usage_errors) {
  EXPECT_EQ(error_of({}), "a subcommand is needed");
  EXPECT_EQ(error_of({u"scna"}), "unknown subcommand \"scna\"");
  EXPECT_EQ(error_of({u"scan"}), "scan takes exactly one directory");
  EXPECT_EQ(error_of({u"scan", u"a", u"b"}), "scan takes exactly one directory");
  EXPECT_EQ(error_of({u"watch"}), "watch needs at least one directory");
  EXPECT_EQ(error_of({u"ps", u"extra"}), "unexpected argument \"extra\"");
  const auto parsed = parse({u"watch", u"--seconds", u"x"});
  EXPECT_EQ(std::get<UsageError>(parsed).command, Subcommand::watch);
}

TEST(CommandLine, help_needs_no_other_argument_but_a_mistake_before_it_is_reported) {
  EXPECT_TRUE(request_of({u"--help"}).help);
  EXPECT_TRUE(request_of({u"scan", u"--help"}).help);
  EXPECT_THAT(error_of({u"scan", u"--top", u"x", u"--help"}), HasSubstr("whole number"));
  const Request freeze_help = request_of({u"freeze", u"--help"});
  EXPECT_TRUE(freeze_help.help);
  EXPECT_EQ(freeze_help.command, Subcommand::freeze);
}

TEST(CommandLine, version_stands_alone_in_place_of_a_subcommand) {
  const Request version = request_of({u"--version"});
  EXPECT_TRUE(version.version);
  EXPECT_EQ(version.command, Subcommand::none);
  EXPECT_FALSE(request_of({u"ps"}).version);
  EXPECT_THAT(error_of({u"--version", u"--json"}), HasSubstr("--version takes no arguments"));
  EXPECT_THAT(error_of({u"ps", u"--version"}), HasSubstr("unknown option --version"));
  EXPECT_THAT(usage_text(Subcommand::none), HasSubstr("mirrowctl --version"));
}

TEST(CommandLine, check_takes_json_and_diagnostics_and_nothing_else) {
  const Request check = request_of({u"check", u"--json"});
  EXPECT_EQ(check.command, Subcommand::check);
  EXPECT_TRUE(check.json);
  EXPECT_FALSE(check.diagnostics);
  EXPECT_FALSE(request_of({u"check"}).json);
  EXPECT_TRUE(request_of({u"check", u"--diagnostics"}).diagnostics);
  EXPECT_EQ(error_of({u"watch", u"d", u"--diagnostics"}), "--diagnostics is not an option of watch");
  EXPECT_THAT(error_of({u"check", u"C:\\"}), HasSubstr("unexpected argument"));
  EXPECT_THAT(error_of({u"check", u"--capture"}), HasSubstr("--capture is not an option of check"));
}

TEST(CommandLine, every_subcommand_has_a_usage_naming_it) {
  for (const Subcommand command : {Subcommand::scan, Subcommand::watch, Subcommand::ps, Subcommand::mem,
                                   Subcommand::load, Subcommand::crashes, Subcommand::freeze, Subcommand::selftest,
                                   Subcommand::check})
    EXPECT_THAT(usage_text(command), HasSubstr("usage: mirrowctl " + std::string(subcommand_name(command))));
  EXPECT_THAT(usage_text(Subcommand::none), AllOf(HasSubstr("selftest"), HasSubstr("check")));
}

}  // namespace
}  // namespace mirrow::host
