#include "guard/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace mirrow::guard {
namespace {

GuardForm form_of(std::vector<std::u16string> arguments) { return guard_form(arguments); }

TEST(GuardForm, only_the_exact_single_special_argument_selects_a_special_form) {
  EXPECT_EQ(form_of({u"--fixture"}), GuardForm::fixture);
  EXPECT_EQ(form_of({u"--self-test"}), GuardForm::self_test);
  EXPECT_EQ(form_of({u"--Fixture"}), GuardForm::wrong_count);
  EXPECT_EQ(form_of({u"--self-test", u"x"}), GuardForm::wrong_count);
  EXPECT_EQ(form_of({u"--fixture "}), GuardForm::wrong_count);
}

TEST(GuardForm, five_arguments_are_the_normal_form_and_every_other_count_is_wrong) {
  EXPECT_EQ(form_of({u"1", u"2", u"3", u"4", u""}), GuardForm::normal);
  EXPECT_EQ(form_of({}), GuardForm::wrong_count);
  EXPECT_EQ(form_of({u"1", u"2", u"3", u"4"}), GuardForm::wrong_count);
  EXPECT_EQ(form_of({u"1", u"2", u"3", u"4", u"5", u"6"}), GuardForm::wrong_count);
}

TEST(ReadDecimal, skips_leading_space_and_stops_at_the_first_non_digit) {
  EXPECT_EQ(read_decimal_u32(u"  \t42"), 42u);
  EXPECT_EQ(read_decimal_u32(u"17abc"), 17u);
  EXPECT_EQ(read_decimal_u32(u"+8"), 8u);
  EXPECT_EQ(read_decimal_u32(u"1 2"), 1u);
}

TEST(ReadDecimal, text_without_digits_reads_as_zero) {
  EXPECT_EQ(read_decimal_u32(u""), 0u);
  EXPECT_EQ(read_decimal_u32(u"abc"), 0u);
  EXPECT_EQ(read_decimal_u32(u"-"), 0u);
  EXPECT_EQ(read_decimal_u64(u" x1"), 0u);
}

TEST(ReadDecimal, a_minus_negates_modulo_the_width) {
  EXPECT_EQ(read_decimal_u32(u"-1"), 0xFFFFFFFFu);
  EXPECT_EQ(read_decimal_u32(u"-0"), 0u);
  EXPECT_EQ(read_decimal_u32(u"-4294967295"), 1u);
  EXPECT_EQ(read_decimal_u64(u"-2"), 0xFFFFFFFFFFFFFFFEull);
}

TEST(ReadDecimal, a_magnitude_beyond_the_width_reads_as_its_maximum) {
  EXPECT_EQ(read_decimal_u32(u"4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(read_decimal_u32(u"4294967296"), 0xFFFFFFFFu);
  EXPECT_EQ(read_decimal_u32(u"-4294967296"), 0xFFFFFFFFu);
  EXPECT_EQ(read_decimal_u32(u"99999999999999999999999"), 0xFFFFFFFFu);
  EXPECT_EQ(read_decimal_u64(u"18446744073709551615"), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(read_decimal_u64(u"18446744073709551616"), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(read_decimal_u64(u"133500000000000000"), 133500000000000000ull);
}

TEST(ParseGuardArguments, reads_the_three_numbers_and_keeps_both_paths_verbatim) {
  const std::vector<std::u16string> arguments{u"1234", u"133500000000000001", u"30", u"C:\\Apps\\Tool.exe",
                                              u"C:\\j\\journal.txt"};
  const GuardArguments parsed = parse_guard_arguments(arguments);
  EXPECT_EQ(parsed.pid, 1234u);
  EXPECT_EQ(parsed.creation_ticks, 133500000000000001ull);
  EXPECT_EQ(parsed.lease_seconds, 30u);
  EXPECT_EQ(parsed.image_path, u"C:\\Apps\\Tool.exe");
  EXPECT_EQ(parsed.journal_path, u"C:\\j\\journal.txt");
}

TEST(LeaseIsValid, accepts_one_to_six_hundred_seconds_only) {
  EXPECT_FALSE(lease_is_valid(0));
  EXPECT_TRUE(lease_is_valid(1));
  EXPECT_TRUE(lease_is_valid(600));
  EXPECT_FALSE(lease_is_valid(601));
  EXPECT_FALSE(lease_is_valid(0xFFFFFFFFu));
}

}  // namespace
}  // namespace mirrow::guard
