#include <gtest/gtest.h>

#include "guard/guard_win.h"
#include "support/child_process_win.h"

namespace mirrow::guard::testing {
namespace {

class PinProcesses : public ::testing::Test {
 protected:
  std::wstring directory_ = fresh_temp_directory(L"guard-pin");
  Counter counter_{directory_};
  PinnedProcesses pinned_;
};

TEST_F(PinProcesses, the_instance_named_by_id_and_creation_time_is_pinned_with_its_owner) {
  ASSERT_TRUE(pin_processes(counter_.pid(), GetCurrentProcessId(), counter_.created(), pinned_));
  EXPECT_EQ(GetProcessId(pinned_.target.get()), counter_.pid());
  EXPECT_EQ(WaitForSingleObject(pinned_.owner.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(PinProcesses, an_id_that_now_names_another_instance_is_not_pinned) {
  EXPECT_FALSE(pin_processes(counter_.pid(), GetCurrentProcessId(), counter_.created() + 1, pinned_));
  EXPECT_FALSE(pinned_.target.valid());
  EXPECT_FALSE(pinned_.owner.valid());
}

TEST_F(PinProcesses, a_target_or_owner_id_that_names_no_process_is_not_pinned) {
  constexpr DWORD kNoSuchPid = 0xFFFFFFF0u;
  EXPECT_FALSE(pin_processes(kNoSuchPid, GetCurrentProcessId(), counter_.created(), pinned_));
  EXPECT_FALSE(pin_processes(counter_.pid(), kNoSuchPid, counter_.created(), pinned_));
  EXPECT_FALSE(pinned_.target.valid());
  EXPECT_FALSE(pinned_.owner.valid());
}

}  // namespace
}  // namespace mirrow::guard::testing
