// The test driver itself, against a window whose thread was busy for longer than five seconds
// before it began to read its queue (as the setup program is after a long installation).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "test_driver.hpp"
#include "wine_files.hpp"

namespace mirel::test_driver {
namespace {

constexpr DWORD BUSY_MS = 7'000;
// Long enough for the window's thread to count as hung: five seconds without reading its queue.
constexpr DWORD HUNG_AFTER_MS = 5'600;

std::wstring busy_window_program() {
  const char* path = std::getenv("MIREL_TEST_BUSY_WINDOW");
  return path == nullptr ? std::wstring() : wine_test::windows_path(path);
}

TEST(TestDriver, ReadsAndClicksAWindowWhoseThreadIsOnlyNowReadingItsQueue) {
  LaunchRequest request;
  request.program = busy_window_program();
  ASSERT_FALSE(request.program.empty()) << "MIREL_TEST_BUSY_WINDOW is not set";
  request.arguments = {std::to_wstring(BUSY_MS)};
  const auto process = wine_test::start_process(request);
  ASSERT_TRUE(process);

  // Found without asking the window anything: its thread is not answering yet.
  const HWND window = wait_for_any_window(process->id(), 30'000);
  ASSERT_NE(window, nullptr);
  const ULONGLONG found = ::GetTickCount64();
  ::Sleep(HUNG_AFTER_MS);

  // The window answers within the driver's wait once its thread reads its queue.
  EXPECT_EQ(window_text(window), L"busy window");
  EXPECT_GE(::GetTickCount64() - found, HUNG_AFTER_MS);
  ASSERT_TRUE(click_button(window, IDOK));
  EXPECT_EQ(process->wait_for_exit(30'000), std::optional<std::uint32_t>(0u));
}

}  // namespace
}  // namespace mirel::test_driver
