// Endings that the normal form cannot reach quickly (the 15 s heartbeat) or at
// all (an exception inside the wait loop), run in this process against a real
// counting child with the real Windows lifecycle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "common/scope_exit.h"
#include "guard/guard_win.h"
#include "guard/output_lines.h"
#include "guard/windows_freeze_platform_win.h"
#include "support/child_process_win.h"

namespace mirrow::guard::testing {
namespace {

using ::testing::ElementsAre;

// The real platform, except that the target check of one pass throws.
class FailingPass final : public FreezePlatform {
 public:
  FailingPass(WindowsFreezePlatform& real, int failing_pass) : real_(real), failing_pass_(failing_pass) {}

  bool has_suspend_calls() override { return real_.has_suspend_calls(); }
  NtStatus suspend_target() override { return real_.suspend_target(); }
  NtStatus resume_target() override { return real_.resume_target(); }
  OwnerWait wait_for_owner(std::uint32_t timeout_ms) override { return real_.wait_for_owner(timeout_ms); }
  bool target_ended() override {
    if (++passes_ == failing_pass_) throw std::runtime_error("lost track of the target");
    return real_.target_ended();
  }
  std::optional<std::uint32_t> control_bytes_waiting() override { return real_.control_bytes_waiting(); }
  std::optional<std::size_t> read_control(std::span<std::uint8_t> buffer) override {
    return real_.read_control(buffer);
  }
  std::uint64_t now_ms() override { return real_.now_ms(); }
  void append_to_journal(std::string_view line) override { real_.append_to_journal(line); }
  void write_output(std::string_view line) override { real_.write_output(line); }

 private:
  WindowsFreezePlatform& real_;
  int failing_pass_;
  int passes_ = 0;
};

// Runs one freeze with standard input and output swapped for pipes, and an
// event as the owner that never goes away.
class InProcessFreeze : public ::testing::Test {
 protected:
  template <typename Run>
  std::vector<std::string> run_with_pipes(Run run) {
    HANDLE control_read = nullptr, control_write = nullptr, output_read = nullptr, output_write = nullptr;
    CreatePipe(&control_read, &control_write, nullptr, 0);
    CreatePipe(&output_read, &output_write, nullptr, 0);
    const UniqueHandle control_read_end(control_read), control_write_end(control_write);
    const UniqueHandle output_read_end(output_read);
    UniqueHandle output_write_end(output_write);
    const HANDLE original_input = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE original_output = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, control_read);
    SetStdHandle(STD_OUTPUT_HANDLE, output_write);
    {
      auto restore = scope_exit([&] {
        SetStdHandle(STD_INPUT_HANDLE, original_input);
        SetStdHandle(STD_OUTPUT_HANDLE, original_output);
      });
      status_ = run();
    }
    output_write_end.reset();
    std::string text(4096, '\0');
    DWORD read = 0;
    ReadFile(output_read, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
    text.resize(read);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  }

  // Watches the counter from another thread while the freeze runs.
  std::future<bool> watch_frozen_after(DWORD delay_ms, DWORD for_ms) {
    return std::async(std::launch::async, [this, delay_ms, for_ms] {
      Sleep(delay_ms);
      return counter_.stands_still(for_ms);
    });
  }

  std::wstring directory_ = fresh_temp_directory(L"guard-in-process");
  Counter counter_{directory_};
  UniqueHandle owner_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  NtStatus status_ = -1;
};

TEST_F(InProcessFreeze, a_silent_control_pipe_ends_the_freeze_as_heartbeat_lost) {
  ASSERT_TRUE(counter_.runs());
  auto frozen = watch_frozen_after(100, 300);
  const auto lines = run_with_pipes([&] { return freeze_under_lease(counter_.process(), owner_.get(), 600, u"", 600); });
  EXPECT_TRUE(frozen.get());
  EXPECT_THAT(lines, ElementsAre(std::string(kFrozenLine), R"({"state":"resumed","reason":"heartbeat_lost","status":0})"));
  EXPECT_EQ(status_, 0);
  EXPECT_TRUE(counter_.runs());
}

TEST_F(InProcessFreeze, an_exception_in_the_wait_loop_ends_the_freeze_as_guard_error_and_resumes) {
  ASSERT_TRUE(counter_.runs());
  auto frozen = watch_frozen_after(50, 200);
  const auto lines = run_with_pipes([&] {
    WindowsFreezePlatform real(counter_.process(), owner_.get(), u"");
    FailingPass failing(real, 4);
    return run_freeze_lifecycle(failing, 600, 15000);
  });
  EXPECT_TRUE(frozen.get());
  EXPECT_THAT(lines, ElementsAre(std::string(kFrozenLine), R"({"state":"resumed","reason":"guard_error","status":0})"));
  EXPECT_TRUE(counter_.runs());
}

TEST_F(InProcessFreeze, an_owner_already_gone_leaves_the_target_untouched_and_silent) {
  SetEvent(owner_.get());
  const auto lines = run_with_pipes([&] { return freeze_under_lease(counter_.process(), owner_.get(), 600, u"", 600); });
  EXPECT_EQ(status_, static_cast<NtStatus>(0xC000010Au));
  EXPECT_TRUE(lines.empty());
  EXPECT_TRUE(counter_.runs());
}

}  // namespace
}  // namespace mirrow::guard::testing
