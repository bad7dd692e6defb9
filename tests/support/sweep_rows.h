#pragma once
// The table behind the bad-input sweeps: each row is a named case that hands
// an export what a careless host could; a sweep's one parameterised test runs
// the row and then checks that the library still works.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

namespace mirrow::testing {

struct SweepRow {
  std::string name;
  std::function<void()> run;
};

inline void PrintTo(const SweepRow& row, std::ostream* out) { *out << row.name; }

// Names each instantiated case after its row.
inline std::string sweep_row_name(const ::testing::TestParamInfo<SweepRow>& info) { return info.param.name; }

}  // namespace mirrow::testing
