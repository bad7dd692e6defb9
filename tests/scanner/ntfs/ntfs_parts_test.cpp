// The pieces of the table reader on their own: the boot sector's geometry,
// update-sequence fixups, data runs, attribute lists and the collation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scanner/ntfs/attribute_list.h"
#include "scanner/ntfs/boot_sector.h"
#include "scanner/ntfs/collation.h"
#include "scanner/ntfs/run_list.h"
#include "scanner/ntfs/update_sequence.h"
#include "tests/scanner/ntfs/volume_builder.h"

namespace mirrow::ntfs_test {
namespace {

using namespace mirrow::ntfs;

std::vector<std::uint8_t> boot_of(Shape shape) {
  VolumeBuilder builder(shape);
  auto& bytes = builder.volume().bytes;
  return {bytes.begin(), bytes.begin() + 4096};
}

TEST(BootSector, gives_the_sizes_and_where_the_table_starts) {
  Geometry geometry;
  const auto boot = boot_of({});
  ASSERT_EQ(parse_boot_sector(boot.data(), boot.size(), geometry), nullptr);
  EXPECT_EQ(geometry.sector_size, 512u);
  EXPECT_EQ(geometry.cluster_size, 4096u);
  EXPECT_EQ(geometry.record_size, 1024u);
  EXPECT_EQ(geometry.table_offset, 16u * 4096);
  EXPECT_EQ(geometry.volume_size, 512u * 4096);
}

TEST(BootSector, reads_large_clusters_written_as_a_power_of_two) {
  auto boot = boot_of({});
  boot[0x0D] = 0xF7;  // 2^9 sectors of 512: 256 KiB
  boot[0x30] = 2;     // the table within the eight clusters left
  Geometry geometry;
  ASSERT_EQ(parse_boot_sector(boot.data(), boot.size(), geometry), nullptr);
  EXPECT_EQ(geometry.cluster_size, 256u * 1024);
}

TEST(BootSector, refuses_what_it_does_not_handle) {
  Geometry geometry;
  auto boot = boot_of({});
  boot[0x0B] = 0;
  boot[0x0C] = 3;  // 768-byte sectors
  EXPECT_STREQ(parse_boot_sector(boot.data(), boot.size(), geometry), "unsupported sector size");
  boot = boot_of({});
  boot[510] = 0;
  EXPECT_STREQ(parse_boot_sector(boot.data(), boot.size(), geometry), "the boot sector lacks its signature");
  boot = boot_of({});
  boot[0x40] = 0xF0;  // 64 KiB records of a 2^-16... accepted; 2^-17 not
  EXPECT_EQ(parse_boot_sector(boot.data(), boot.size(), geometry), nullptr);
  boot[0x40] = 0xEF;
  EXPECT_STREQ(parse_boot_sector(boot.data(), boot.size(), geometry), "unsupported file record size");
  EXPECT_STREQ(parse_boot_sector(boot.data(), 100, geometry), "the volume is shorter than a boot sector");
}

// ---- fixups ----

std::vector<std::uint8_t> fixed_record() {
  VolumeBuilder builder;
  builder.file(16, 5, u"f", 1);
  const auto at = builder.record_offset(16);
  auto& bytes = builder.volume().bytes;
  return {bytes.begin() + at, bytes.begin() + at + 1024};
}

TEST(Fixups, put_back_the_bytes_each_stride_lent_to_the_sequence_number) {
  auto record = fixed_record();
  const std::uint8_t saved[2] = {record[0x32], record[0x33]};
  ASSERT_TRUE(apply_fixups(record.data(), record.size()));
  EXPECT_EQ(record[510], saved[0]);
  EXPECT_EQ(record[511], saved[1]);
}

TEST(Fixups, refuse_a_torn_stride_an_array_past_the_first_stride_and_odd_sizes) {
  auto record = fixed_record();
  record[1022] ^= 1;
  EXPECT_FALSE(apply_fixups(record.data(), record.size()));
  record = fixed_record();
  record[4] = 0xF8;
  record[5] = 0x01;  // the array at 504
  EXPECT_FALSE(apply_fixups(record.data(), record.size()));
  record = fixed_record();
  EXPECT_FALSE(apply_fixups(record.data(), 1000));
  record[6] = 9;  // a count that does not match two strides
  EXPECT_FALSE(apply_fixups(record.data(), record.size()));
}

// ---- data runs ----

TEST(DataRuns, decode_relative_starts_negative_steps_and_sparse_runs) {
  const auto runs = runs_for({{8, 100}, {4, 40}, {16, -1}, {2, 300}});
  std::vector<Extent> out;
  ASSERT_EQ(decode_runs(runs.data(), runs.size(), 0, 1000, 16, out), RunProblem::none);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[1].lcn, 40u);
  EXPECT_EQ(out[1].first_vcn, 8u);
  EXPECT_EQ(out[2].lcn, sparse_cluster);
  EXPECT_EQ(out[3].lcn, 300u);
  EXPECT_EQ(out[3].first_vcn, 28u);
}

TEST(DataRuns, refuse_runs_past_the_volume_cut_short_or_too_many) {
  std::vector<Extent> out;
  auto runs = runs_for({{8, 995}});
  EXPECT_EQ(decode_runs(runs.data(), runs.size(), 0, 1000, 16, out), RunProblem::past_volume);
  const std::uint8_t backwards[] = {0x11, 8, 100, 0x21, 8, 0x38, 0xFF, 0};  // 100, then 200 back
  EXPECT_EQ(decode_runs(backwards, sizeof backwards, 0, 1000, 16, out), RunProblem::past_volume);
  runs = runs_for({{8, 100}});
  EXPECT_EQ(decode_runs(runs.data(), runs.size() - 1, 0, 1000, 16, out), RunProblem::truncated);
  EXPECT_EQ(decode_runs(runs.data(), 2, 0, 1000, 16, out), RunProblem::truncated);
  const std::uint8_t wide[] = {0x09, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(decode_runs(wide, sizeof wide, 0, 1000, 16, out), RunProblem::bad_header);
  runs = runs_for({{1, 1}, {1, 2}, {1, 3}});
  out.clear();
  EXPECT_EQ(decode_runs(runs.data(), runs.size(), 0, 1000, 2, out), RunProblem::too_many);
}

// ---- attribute lists ----

TEST(AttributeList, names_the_records_holding_each_attribute_and_refuses_a_bad_length) {
  std::vector<std::uint8_t> list(64, 0);
  for (int e = 0; e < 2; ++e) {
    list[32 * e + 0] = 0x80;
    list[32 * e + 4] = 32;
    list[32 * e + 7] = 0x1A;
    list[32 * e + 8] = static_cast<std::uint8_t>(e * 7);
    list[32 * e + 0x10] = static_cast<std::uint8_t>(20 + e);
  }
  std::vector<ListEntry> entries;
  ASSERT_TRUE(parse_attribute_list(list.data(), list.size(), 8, entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].lowest_vcn, 7u);
  EXPECT_EQ(entries[1].reference, 21u);
  list[36] = 200;
  entries.clear();
  EXPECT_FALSE(parse_attribute_list(list.data(), list.size(), 8, entries));
  list[36] = 8;
  EXPECT_FALSE(parse_attribute_list(list.data(), list.size(), 8, entries));
}

// ---- collation ----

TEST(Collation, orders_by_the_volumes_upper_case_then_length_then_case) {
  std::vector<std::uint8_t> table(2 * 65536);
  for (std::uint32_t u = 0; u < 65536; ++u) {
    const std::uint32_t upper = (u >= 'a' && u <= 'z') ? u - 32 : u;
    table[2 * u] = static_cast<std::uint8_t>(upper);
    table[2 * u + 1] = static_cast<std::uint8_t>(upper >> 8);
  }
  const Collation collation(table.data(), table.size());
  const auto compare = [&](std::u16string_view a, std::u16string_view b) {
    return collation.compare(a.data(), a.size(), b.data(), b.size());
  };
  EXPECT_LT(compare(u"apple", u"Banana"), 0);
  EXPECT_LT(compare(u"a", u"ab"), 0);
  EXPECT_LT(compare(u"AB", u"ab"), 0);
  EXPECT_EQ(compare(u"same", u"same"), 0);
  EXPECT_GT(compare(u"_x", u"ax"), 0) << "'_' (0x5F) follows every letter once letters are upper-cased";
  EXPECT_TRUE(collation.equal_ignoring_case(u"Users", 5, u"USERS", 5));
  EXPECT_FALSE(collation.equal_ignoring_case(u"Users", 5, u"User", 4));
}

}  // namespace
}  // namespace mirrow::ntfs_test
