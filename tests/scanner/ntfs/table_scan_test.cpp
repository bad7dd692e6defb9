// The scan of a folder tree from a master file table made in memory:
// the walk's order and bounds, what is reported and what is left out, and
// what a damaged table does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scanner/scan_driver.h"
#include "tests/scanner/batch_text.h"
#include "tests/scanner/ntfs/volume_builder.h"
#include "tests/scanner/scripted_tree.h"

namespace mirrow::ntfs_test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using scan_test::is_done;
using scan_test::record_paths;
using scan_test::value_of;

constexpr std::uint64_t root = 5;

class TableScanTest : public ::testing::Test {
 protected:
  // Runs a driver over the built volume to its end; the batches in order.
  std::vector<std::string> scan(const std::u16string& scan_root = u"N:\\",
                                const std::vector<std::u16string>& exclusions = {}) {
    access.reader = builder.volume().reader();
    volumes = access.access();
    driver = std::make_unique<ScanDriver>(scan_root, walk_tree.platform(), &volumes);
    for (const auto& exclusion : exclusions) driver->exclude(exclusion);
    std::vector<std::string> batches;
    do {
      batches.push_back(driver->step());
    } while (!is_done(batches.back()) && batches.size() < 10000);
    return batches;
  }

  std::vector<std::string> paths_of(const std::vector<std::string>& batches) {
    std::vector<std::string> paths;
    for (const auto& batch : batches)
      for (auto& path : record_paths(batch)) paths.push_back(path);
    return paths;
  }

  VolumeBuilder builder;
  testing::FixedVolumeAccess access;
  VolumeAccess volumes;
  scan_test::ScriptedTree walk_tree;  // what the walk would find after a refusal: nothing
  std::unique_ptr<ScanDriver> driver;
};

// ---- order and content ----

TEST_F(TableScanTest, a_folders_files_come_in_collation_order_before_its_subfolders_last_one_first) {
  builder.folder(16, root, u"alpha").folder(17, root, u"Beta");
  builder.file(18, root, u"b.txt", 2).file(19, root, u"A.txt", 1).file(20, root, u"c.txt", 3);
  builder.file(21, 16, u"in-alpha", 4).file(22, 17, u"in-beta", 5);
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\a.txt)", R"(n:\\b.txt)", R"(n:\\c.txt)", R"(n:\\beta\\in-beta)",
                                             R"(n:\\alpha\\in-alpha)"));
  EXPECT_EQ(value_of(batches.back(), "bytes"), "15");
  EXPECT_EQ(value_of(batches.back(), "errors"), "0");
  EXPECT_EQ(driver->way(), ScanWay::table);
}

TEST_F(TableScanTest, the_first_batches_open_and_read_the_table_and_report_nothing) {
  builder.file(16, root, u"x", 1);
  const auto batches = scan();
  ASSERT_EQ(batches.size(), 3u) << "the geometry, extents and upper-case table; the one slice; the records";
  EXPECT_EQ(batches[0], R"({"records":[],"errors":0,"files":0,"bytes":0,"done":false,"samples":[],"skipped":[]})");
  EXPECT_EQ(batches[1], batches[0]);
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\x)"));
}

TEST_F(TableScanTest, a_record_carries_its_size_and_standard_information_times) {
  builder.record(16).information(some_time + 10000000, some_time).name(root, u"f").data(1234).done();
  const auto batches = scan();
  EXPECT_THAT(batches.back(), HasSubstr(R"(["n:\\f",[1234,1655526401,1655526400]])"));
}

TEST_F(TableScanTest, names_that_sort_equal_but_for_case_keep_both_and_the_shorter_name_first) {
  builder.file(16, root, u"ab", 1).file(17, root, u"AB", 2).file(18, root, u"a", 3).file(19, root, u"\u0431", 4);
  builder.file(20, root, u"\u0410", 5);  // Cyrillic А sorts before б, after every ASCII letter
  EXPECT_THAT(paths_of(scan()), ElementsAre(R"(n:\\a)", R"(n:\\ab)", R"(n:\\ab)", R"(n:\\\u0430)", R"(n:\\\u0431)"));
}

TEST_F(TableScanTest, a_file_with_three_links_gives_three_records_and_a_dos_name_none) {
  builder.folder(16, root, u"one").folder(17, root, u"two");
  builder.record(18).information().name(16, u"LONGNAME.TXT", 1).name(16, u"LONGNA~1.TXT", 2).name(17, u"link", 0);
  builder.name(root, u"top", 1).data(10).done();
  EXPECT_THAT(paths_of(scan()), ElementsAre(R"(n:\\top)", R"(n:\\two\\link)", R"(n:\\one\\longname.txt)"));
}

TEST_F(TableScanTest, the_unnamed_stream_counts_and_named_streams_do_not) {
  builder.record(16).information().name(root, u"streams").data(100, true).data(5000, false, u"extra").done();
  EXPECT_EQ(value_of(scan().back(), "bytes"), "100");
}

TEST_F(TableScanTest, reparse_points_and_offline_entries_are_skipped_with_nothing_below_them) {
  builder.record(16, true).information(some_time, some_time, 0x400).name(root, u"junction").reparse_point().done();
  builder.file(17, 16, u"hidden", 1);
  builder.record(18).information(some_time, some_time, 0x1000).name(root, u"cold").data(9).done();
  builder.record(19).information().name(root, u"link").reparse_point().data(0, true).done();
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ::testing::IsEmpty());
  EXPECT_EQ(value_of(batches.back(), "skipped"), R"(["n:\\cold","n:\\junction","n:\\link"])");
}

TEST_F(TableScanTest, a_file_compressed_by_the_overlay_filter_or_deduplicated_is_a_plain_file) {
  builder.record(16).information(some_time, some_time, 0x420).name(root, u"compact.dll").reparse_point(0x80000017);
  builder.data(4096).done();
  builder.record(17).information(some_time, some_time, 0x420).name(root, u"dedup.bin").reparse_point(0x80000013);
  builder.data(10).done();
  builder.record(18).information(some_time, some_time, 0x420).name(root, u"app.exe").reparse_point(0x8000001B);
  builder.data(0, true).done();
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\compact.dll)", R"(n:\\dedup.bin)"));
  EXPECT_EQ(value_of(batches.back(), "skipped"), R"(["n:\\app.exe"])");
}

TEST_F(TableScanTest, free_records_and_the_volumes_metadata_are_not_entries) {
  builder.file(16, root, u"kept", 1).file(17, root, u"deleted", 2).free_record(17);
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\kept)"));
  EXPECT_EQ(value_of(batches.back(), "errors"), "0");
}

TEST_F(TableScanTest, an_extension_record_brings_its_names_and_the_size_of_its_data) {
  builder.record(16).information().name(root, u"many-links").attribute_list({{0x10, 16}, {0x30, 16}, {0x30, 30}, {0x80, 30}});
  builder.done();
  builder.record(30).base(16).name(root, u"second-link").data(777).done();
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\many-links)", R"(n:\\second-link)"));
  EXPECT_EQ(value_of(batches.back(), "bytes"), "1554");
}

TEST_F(TableScanTest, an_extension_may_come_before_its_base_and_attaches_to_the_same_use_of_it) {
  builder.record(25).base(31, 3).name(root, u"early-link").done();
  builder.record(31, false, 3).information().name(root, u"late-base").attribute_list({{0x30, 25}, {0x30, 31}});
  builder.data(6).done();
  EXPECT_THAT(paths_of(scan()), ElementsAre(R"(n:\\early-link)", R"(n:\\late-base)"));
}

TEST_F(TableScanTest, an_extension_written_for_an_earlier_use_of_its_record_adds_nothing_and_is_one_error) {
  // Record 16 was freed and reused (sequence 2); record 30 still says it
  // extends the first file kept there.
  builder.record(16, false, 2).information().name(root, u"reused").data(10).done();
  builder.record(30).base(16, 1).name(root, u"stale-link").data(777).reparse_point(0xA000000C).done();
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\reused)"));
  EXPECT_EQ(value_of(batches.back(), "bytes"), "10");
  EXPECT_EQ(value_of(batches.back(), "skipped"), "[]");
  EXPECT_EQ(value_of(batches.back(), "samples"), R"(["n:\\: table record 30: extension of a record not in use"])");
}

TEST_F(TableScanTest, a_reparse_point_held_in_an_extension_record_is_judged_by_its_tag) {
  // A file with an attribute list whose $REPARSE_POINT lies in an extension:
  // compressed by the overlay filter, it lists as a plain file...
  builder.record(16).information(some_time, some_time, 0x420).name(root, u"compact.dll");
  builder.attribute_list({{0x10, 16}, {0x30, 16}, {0x80, 30}, {0xC0, 30}}).done();
  builder.record(30).base(16).data(4096).reparse_point(0x80000017).done();
  // ...while a symbolic link is skipped, even with its attribute bit missing.
  builder.record(17).information().name(root, u"symlink").attribute_list({{0x10, 17}, {0x30, 17}, {0xC0, 31}});
  builder.data(0, true).done();
  builder.record(31).base(17).reparse_point(0xA000000C).done();
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\compact.dll)"));
  EXPECT_EQ(value_of(batches.back(), "bytes"), "4096");
  EXPECT_EQ(value_of(batches.back(), "skipped"), R"(["n:\\symlink"])");
}

TEST_F(TableScanTest, a_subfolder_root_is_found_by_its_names_in_any_case) {
  builder.folder(16, root, u"Users").folder(17, 16, u"Me").file(18, 17, u"note", 3).file(19, 16, u"other", 1);
  const auto batches = scan(u"n:\\USERS\\me");
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\users\\me\\note)"));
}

TEST_F(TableScanTest, an_exclusion_hides_its_subtree_but_not_a_sibling_sharing_its_prefix) {
  builder.folder(16, root, u"data").folder(17, root, u"database").file(18, 16, u"x", 1).file(19, 17, u"y", 1);
  EXPECT_THAT(paths_of(scan(u"N:\\", {u"n:\\DATA"})), ElementsAre(R"(n:\\database\\y)"));
}

// ---- bounds ----

TEST_F(TableScanTest, records_come_at_most_512_a_batch_and_the_last_batch_says_done) {
  Shape shape;
  shape.records = 1400;
  shape.clusters = 1024;
  builder = VolumeBuilder(shape);
  for (std::uint32_t i = 0; i < 1300; ++i) builder.file(16 + i, root, u"f" + std::u16string(1, u'a' + i % 26) + std::u16string(i / 26 + 1, u'x'), 1);
  const auto batches = scan();
  ASSERT_EQ(batches.size(), 5u);
  EXPECT_EQ(record_paths(batches[2]).size(), 512u);
  EXPECT_EQ(record_paths(batches[3]).size(), 512u);
  EXPECT_EQ(record_paths(batches[4]).size(), 276u);
  EXPECT_FALSE(is_done(batches[3]));
}

TEST_F(TableScanTest, a_table_larger_than_one_slice_is_read_over_several_empty_batches) {
  Shape shape;
  shape.records = 9000;  // 9000 KiB of records: three slices of at most 4 MiB
  shape.clusters = 2600;
  builder = VolumeBuilder(shape);
  builder.file(8999, root, u"last", 1);
  access.reader = builder.volume().reader();
  volumes = access.access();
  ScanDriver scanner(u"N:\\", walk_tree.platform(), &volumes);
  std::vector<std::uint64_t> read_by_step;
  std::vector<std::string> batches;
  do {
    batches.push_back(scanner.step());
    read_by_step.push_back(builder.volume().bytes_read.value);
  } while (!is_done(batches.back()));
  ASSERT_EQ(batches.size(), 5u) << "opening, three slices, the record";
  for (int i = 0; i < 4; ++i) EXPECT_THAT(record_paths(batches[i]), ::testing::IsEmpty());
  // The slices are read ahead on other threads, but never more of them than
  // the read-ahead holds beyond the ones parsed: the boot sector and the
  // upper-case table take less than 1 MiB.
  constexpr std::uint64_t slice = 4u << 20;
  for (std::size_t step = 0; step < read_by_step.size(); ++step)
    EXPECT_LE(read_by_step[step], (1u << 20) + (step + ntfs::read_ahead_depth) * slice) << "step " << step;
  EXPECT_EQ(read_by_step[4], read_by_step[3]) << "the table is read once, and no read is left in flight";
  EXPECT_LT(read_by_step[4], 9000u * 1024 + (1u << 20));
}

TEST_F(TableScanTest, the_peak_memory_counts_the_sort_scratch_of_the_largest_folder) {
  Shape shape;
  shape.records = 400;
  const auto peak_of = [&](std::uint32_t folders) {
    builder = VolumeBuilder(shape);
    std::uint64_t next = 16;
    for (std::uint32_t d = 0; d < folders; ++d) builder.folder(next++, root, u"d" + std::u16string(d + 1, u'x'));
    for (std::uint32_t f = 0; f < 300; ++f) {
      const std::uint64_t folder = folders == 0 ? root : 16 + f % folders;
      builder.file(next++, folder, u"f" + std::u16string(f / 26 + 1, u'x') + std::u16string(1, u'a' + f % 26), 1);
    }
    scan();
    return driver->table()->peak_bytes();
  };
  // 300 files in one folder against 30 folders of 10: the same blocks of
  // entries and names, 30 more names to group, and a sort of 300 against 30.
  const std::uint64_t one_folder = peak_of(0);
  const std::uint64_t thirty_folders = peak_of(30);
  EXPECT_GE(one_folder, thirty_folders + ntfs::FolderOrder::scratch_bytes(300) - ntfs::FolderOrder::scratch_bytes(30) -
                            30 * sizeof(std::uint32_t));
}

// ---- volume shapes ----

struct ShapeCase {
  const char* name;
  Shape shape;
};

class TableShapes : public TableScanTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(TableShapes, every_shape_reads_the_same_tree) {
  builder = VolumeBuilder(GetParam().shape);
  builder.folder(16, root, u"d").file(17, 16, u"f", 42).file(18, root, u"g", 1);
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\g)", R"(n:\\d\\f)"));
  EXPECT_EQ(driver->way(), ScanWay::table) << driver->reason();
}

Shape shape_of(std::uint32_t sector, std::uint32_t cluster, std::uint32_t record, std::uint64_t clusters,
               bool fragmented = false) {
  Shape shape;
  shape.sector_size = sector;
  shape.cluster_size = cluster;
  shape.record_size = record;
  shape.clusters = clusters;
  shape.table_cluster = 4;
  shape.fragmented = fragmented;
  return shape;
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, TableShapes,
    ::testing::Values(ShapeCase{"clusters_of_512_bytes", shape_of(512, 512, 1024, 600)},
                      ShapeCase{"clusters_of_64_KiB", shape_of(512, 65536, 1024, 8)},
                      ShapeCase{"records_of_4096_bytes_on_4096_byte_sectors", shape_of(4096, 4096, 4096, 200)},
                      ShapeCase{"a_table_fragmented_beyond_its_first_record", shape_of(512, 4096, 1024, 200, true)},
                      ShapeCase{"fragmented_with_records_larger_than_clusters", shape_of(512, 512, 1024, 700, true)}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- damaged tables ----

TEST_F(TableScanTest, a_torn_record_is_one_error_with_a_sample_and_the_rest_is_reported) {
  builder.file(16, root, u"good", 1).file(17, root, u"torn", 2);
  builder.volume().bytes[builder.record_offset(17) + 510] ^= 0xFF;
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\good)"));
  EXPECT_EQ(value_of(batches.back(), "errors"), "1");
  EXPECT_EQ(value_of(batches.back(), "samples"), R"(["n:\\: table record 17: update sequence mismatch"])");
}

TEST_F(TableScanTest, an_attribute_running_past_its_record_is_one_error) {
  builder.file(16, root, u"long", 1);
  // The first attribute's length reaches past the record's used bytes.
  builder.volume().bytes[builder.record_offset(16) + 0x38 + 5] = 0x40;
  const auto batches = scan();
  EXPECT_EQ(value_of(batches.back(), "samples"), R"(["n:\\: table record 16: an attribute runs past its record"])");
}

TEST_F(TableScanTest, an_entry_whose_folder_is_free_or_a_file_is_an_error_and_not_reported) {
  builder.folder(16, root, u"gone").free_record(16).file(17, 16, u"orphan", 1);
  builder.file(18, root, u"plain", 1).file(19, 18, u"under-a-file", 1);
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\plain)"));
  EXPECT_EQ(value_of(batches.back(), "samples"), R"(["n:\\: table record 17: its folder is not in use",)"
                                                  R"("n:\\: table record 19: its folder is not a folder"])");
}

TEST_F(TableScanTest, a_folder_reached_twice_through_a_loop_is_listed_once) {
  builder.record(16, true).information().name(root, u"a").name(17, u"back-up").done();
  builder.folder(17, 16, u"b").file(18, 17, u"f", 1);
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\a\\b\\f)"));
  EXPECT_THAT(value_of(batches.back(), "samples"), HasSubstr("folder reached twice: a loop in the table"));
}

TEST_F(TableScanTest, a_record_naming_another_number_than_its_place_is_a_stray_copy_and_one_error) {
  builder.file(17, root, u"real", 3).copy_record(17, 20);
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\real)"));
  EXPECT_EQ(value_of(batches.back(), "samples"),
            R"(["n:\\: table record 20: its record number disagrees with its place in the table"])");
}

TEST_F(TableScanTest, a_record_of_the_older_layout_carries_no_number_and_is_read_at_its_place) {
  // Its update sequence array fills the bytes where a newer record keeps its number.
  builder.record(20).older_layout().information().name(root, u"old").data(5).done();
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\old)"));
  EXPECT_EQ(value_of(batches.back(), "errors"), "0");
}

TEST_F(TableScanTest, records_past_the_tables_initialised_size_are_neither_read_nor_reported) {
  // An in-use record left in clusters the table holds but never wrote, as
  // a quick format over an older volume leaves them.
  Shape shape;
  shape.initialized_records = 32;
  builder = VolumeBuilder(shape);
  builder.file(16, root, u"kept", 1).file(40, root, u"phantom", 2);
  const auto batches = scan();
  EXPECT_THAT(paths_of(batches), ElementsAre(R"(n:\\kept)"));
  EXPECT_EQ(value_of(batches.back(), "errors"), "0");
  EXPECT_EQ(driver->table()->records_read(), 32u);
}

struct Refusal {
  const char* name;
  void (*damage)(VolumeBuilder&);
  const char* reason;
};

class TableRefusals : public TableScanTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(TableRefusals, a_table_that_cannot_serve_hands_the_scan_to_the_walk_before_any_record) {
  builder.file(16, root, u"x", 1);
  GetParam().damage(builder);
  const auto batches = scan();
  EXPECT_EQ(driver->way(), ScanWay::walk);
  EXPECT_THAT(driver->reason(), HasSubstr(GetParam().reason));
  // The walk of the scripted (empty) tree: the root cannot be found.
  EXPECT_EQ(value_of(batches.back(), "samples"), R"(["n:\\: unavailable, reparse or offline ancestor"])");
}

INSTANTIATE_TEST_SUITE_P(
    Damage, TableRefusals,
    ::testing::Values(
        Refusal{"not_ntfs", [](VolumeBuilder& b) { b.volume().bytes[3] = 'X'; }, "not an NTFS boot sector"},
        Refusal{"truncated", [](VolumeBuilder& b) { b.volume().bytes.resize(b.volume().bytes.size() / 2); },
                "shorter than its boot sector says"},
        Refusal{"table_runs_past_the_end",
                [](VolumeBuilder& b) { b.table_runs(runs_for({{16, 16}, {16, 600}})); },
                "past the volume's end"},
        Refusal{"first_record_torn", [](VolumeBuilder& b) { b.volume().bytes[b.record_offset(0) + 1022] ^= 1; },
                "first record is damaged"},
        Refusal{"upcase_missing", [](VolumeBuilder& b) { b.free_record(10); }, "upper-case table"},
        Refusal{"many_torn_records",
                [](VolumeBuilder& b) {
                  for (int i = 20; i < 40; ++i) {
                    b.file(i, 5, u"t", 1);
                    b.volume().bytes[b.record_offset(i) + 510] ^= 1;
                  }
                },
                "too many damaged records"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TableScanTest, a_root_missing_from_the_table_is_left_to_the_walk) {
  builder.folder(16, root, u"there");
  scan(u"N:\\elsewhere");
  EXPECT_EQ(driver->way(), ScanWay::walk);
  EXPECT_EQ(driver->reason(), "the root is not a folder in the table");
}

TEST_F(TableScanTest, a_root_below_a_junction_is_left_to_the_walk) {
  builder.record(16, true).information(some_time, some_time, 0x400).name(root, u"j").reparse_point().done();
  builder.folder(17, 16, u"inside");
  scan(u"N:\\j\\inside");
  EXPECT_THAT(driver->reason(), HasSubstr("reparse point"));
}

TEST_F(TableScanTest, a_volume_that_cannot_be_opened_or_a_network_root_walks_and_says_why) {
  access.refusal = "the volume cannot be opened for reading: 5";
  scan();
  EXPECT_EQ(driver->reason(), "the volume cannot be opened for reading: 5");
  EXPECT_EQ(driver->way_text(), R"({"way":"walk","reason":"the volume cannot be opened for reading: 5"})");
  access.refusal.clear();
  scan(u"\\\\server\\share");
  EXPECT_EQ(driver->reason(), "the root is not on a drive letter");
  EXPECT_EQ(access.opens, 0);
}

TEST_F(TableScanTest, the_volume_is_closed_once_the_table_is_read) {
  builder.file(16, root, u"x", 1);
  access.reader = builder.volume().reader();
  volumes = access.access();
  ScanDriver one(u"N:\\", walk_tree.platform(), &volumes);
  EXPECT_EQ(one.way_text(), R"({"way":"undecided","reason":""})");
  one.step();
  EXPECT_EQ(access.opens, 1);
  EXPECT_EQ(access.closes, 0) << "the table is yet to be read";
  one.step();
  EXPECT_EQ(access.closes, 1);
  EXPECT_EQ(one.way_text(), R"({"way":"table","reason":""})");
}

}  // namespace
}  // namespace mirrow::ntfs_test
