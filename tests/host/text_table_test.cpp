#include "host/text_table.h"

#include <gtest/gtest.h>

namespace mirrow::host {
namespace {

TEST(TextTable, columns_align_left_or_right_and_the_last_is_not_padded) {
  TextTable table({{"PID", Align::right}, {"NAME"}, {"NOTE"}});
  table.add_row({"4", "a.exe", "x"});
  table.add_row({"4242", "longer.exe", ""});
  EXPECT_EQ(table.render(),
            " PID  NAME        NOTE\n"
            "   4  a.exe       x\n"
            "4242  longer.exe\n");
}

TEST(TextTable, cyrillic_cells_are_measured_in_characters_not_bytes) {
  TextTable table({{"VERDICT"}, {"PID", Align::right}});
  table.add_row({"Предок Mirrow", "1"});
  table.add_row({"ok", "22"});
  EXPECT_EQ(table.render(),
            "VERDICT        PID\n"
            "Предок Mirrow    1\n"
            "ok              22\n");
  EXPECT_EQ(display_width("Предок"), 6u);
}

TEST(TextTable, missing_cells_are_empty_and_extra_ones_dropped) {
  TextTable table({{"A"}, {"B"}});
  table.add_row({"1"});
  table.add_row({"1", "2", "3"});
  EXPECT_EQ(table.render(), "A  B\n1\n1  2\n");
}

}  // namespace
}  // namespace mirrow::host
