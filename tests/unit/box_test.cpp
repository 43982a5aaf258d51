// Message boxes in a process of their own: what passes between it and the game, and the host
// that starts it, waits for it and ends it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/box/box_host.h"
#include "platform/box/box_protocol.h"
#include "tests/support/scripted_box.h"

namespace platform {
namespace {

BoxRequest Full() {
  BoxRequest r;
  r.toolkit = Toolkit::kXlib;
  r.title = "MISSION FAILED";
  r.text = "MISSION FAILED!\n\nsecond line, with \"quotes\" and ünïcode";
  r.icon = MessageIcon::kCritical;
  r.window_system = WindowSystem::kX11;
  r.x11_parent = 0xFFFFFFFFu;
  r.wayland_parent = "handle-1";
  r.startup_id = "launch_TIME123";
  r.activation_token = "token";
  r.session_bus = "unix:path=/run/user/1000/bus";
  r.take_keyboard = true;
  return r;
}

class BoxProtocolTest : public ::testing::TestWithParam<BoxRequest> {};

TEST_P(BoxProtocolTest, ARequestArrivesAsItWasSent) {
  EXPECT_EQ(DecodeRequest(Encode(GetParam())), GetParam());
}

BoxRequest NoBus() {
  BoxRequest r = Full();
  r.session_bus.reset();
  return r;
}
BoxRequest EmptyBus() {
  BoxRequest r = Full();
  r.session_bus = "";
  return r;
}
BoxRequest Longest() {
  BoxRequest r;
  r.text = std::string(1 << 16, '\n');
  r.window_system = WindowSystem::kWayland;
  return r;
}

INSTANTIATE_TEST_SUITE_P(Requests, BoxProtocolTest,
                         ::testing::Values(BoxRequest{}, Full(), NoBus(), EmptyBus(), Longest()));

// Whatever arrives on the box's standard input, only a whole request of this version is one.
TEST(BoxProtocolBytesTest, AnythingButAWholeRequestIsRefused) {
  const std::string whole = Encode(Full());
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    ASSERT_FALSE(DecodeRequest(whole.substr(0, cut))) << "cut at " << cut;
  }
  EXPECT_FALSE(DecodeRequest(whole + "x"));
  std::string other_version = whole;
  other_version.replace(other_version.find(" 1\n"), 3, " 2\n");
  EXPECT_FALSE(DecodeRequest(other_version));
  for (const auto& [from, to] :
       {std::pair<std::string, std::string>{"toolkit 4\nxlib", "toolkit 4\nqt5x"},
        {"icon 8\ncritical", "icon 8\nmistakes"},
        {"x11-parent 10\n4294967295", "x11-parent 10\n4294967296"},
        {"take-keyboard 1\n1", "take-keyboard 1\n2"},
        {"title 14\n", "title 99999999999999999999\n"},
        {"title 14\n", "title -14\n"},
        {"title 14\n", "title 0x0E\n"},
        {"title 14\n", "title 65537\n"}}) {
    std::string bad = whole;
    const std::size_t at = bad.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    bad.replace(at, from.size(), to);
    EXPECT_FALSE(DecodeRequest(bad)) << to;
  }
}

TEST(BoxProtocolBytesTest, AnAnswerIsTheDismissingTimeAndNothingElse) {
  EXPECT_EQ(DecodeAnswer(Encode(BoxAnswer{0xFFFFFFFFu})), BoxAnswer{0xFFFFFFFFu});
  const std::string whole = Encode(BoxAnswer{1234});
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    ASSERT_FALSE(DecodeAnswer(whole.substr(0, cut))) << "cut at " << cut;
  }
  EXPECT_FALSE(DecodeAnswer(whole + "\n"));
  EXPECT_FALSE(DecodeAnswer("dismissed"));
}

TEST(BoxProgramTest, TheBinaryShowsABoxOnlyWhenStartedInThatRole) {
  EXPECT_TRUE(IsBoxRole("glomper-box"));
  EXPECT_TRUE(IsBoxRole("/proc/self/fd/3/glomper-box"));
  EXPECT_FALSE(IsBoxRole("glomper"));
  EXPECT_FALSE(IsBoxRole("/usr/games/glomper"));
  EXPECT_FALSE(IsBoxRole("glomper-box2"));
  EXPECT_FALSE(IsBoxRole(""));
}

volatile std::sig_atomic_t g_quit = 0;

class BoxHostTest : public ::testing::Test {
 protected:
  // This binary plays the box (tests/support/scripted_box.h), started as the game starts its own.
  BoxHostTest() : host_(BoxHost::OfThisProgram()) {}
  void TearDown() override {
    g_quit = 0;
    // Every box the host started has been reaped: none is left running or a zombie.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a box outlived its host";
  }

  BoxResult Show(const std::string& what, const std::string& text = "") {
    BoxRequest request;
    request.title = what;
    request.text = text;
    return host_.Show(request, BoxWatch{g_quit, {}, [this](bool) { ++pumped_; }}, answer_);
  }

  BoxHost host_;
  BoxAnswer answer_{0xDEAD};
  int pumped_ = 0;
};

TEST_F(BoxHostTest, ADismissedBoxAnswersWithTheRequestItGotWhole) {
  // More than a pipe holds: the host writes while the box reads.
  const std::string text(70000, 'x');
  EXPECT_EQ(Show("answer", text.substr(0, 1 << 16)), BoxResult::kDismissed);
  EXPECT_EQ(answer_.user_time, 1u << 16);
}

TEST_F(BoxHostTest, ABoxThatCannotBeShownSaysSoAndLeavesTheAnswerAlone) {
  for (const char* what : {"silent", "crash", "garbage"}) {
    EXPECT_EQ(Show(what), BoxResult::kUnavailable) << what;
    EXPECT_EQ(answer_.user_time, 0xDEADu) << what;
  }
}

TEST_F(BoxHostTest, TheBoxGetsNothingOfTheGamesButItsStandardStreams) {
  const int leaked = open("/dev/null", O_RDONLY);  // as a library might forget to mark
  ASSERT_GE(leaked, 3);
  EXPECT_EQ(Show("descriptors"), BoxResult::kDismissed);
  close(leaked);
  EXPECT_EQ(answer_.user_time, 3u) << "descriptors the box was started with";
}

TEST_F(BoxHostTest, ASignalEndsTheWaitAndTheBoxAtOnce) {
  std::thread signal([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    g_quit = 1;
  });
  const auto from = std::chrono::steady_clock::now();
  EXPECT_EQ(Show("wait"), BoxResult::kInterrupted);
  signal.join();
  EXPECT_LT(std::chrono::steady_clock::now() - from, std::chrono::seconds(2));
}

TEST_F(BoxHostTest, TheWindowKeepsAnsweringWhileABoxIsOpenAndMayEndTheGame) {
  BoxRequest request;
  request.title = "wait";
  int pumped = 0;
  const BoxWatch watch{g_quit, {}, [&](bool) {
                         if (++pumped == 3) throw ProgramEnd{0};
                       }};
  EXPECT_THROW(host_.Show(request, watch, answer_), ProgramEnd);
  EXPECT_EQ(pumped, 3);
}

// The hazard a box started by fork alone would run into: another thread of the game (SDL's,
// a GL driver's) holding one of its library's locks at the moment of the fork, a lock the
// toolkit then needs. The box is a fresh start of the program, so it takes the lock and
// answers all the same.
TEST_F(BoxHostTest, ABoxStartsWhileAnotherThreadHoldsALockTheBoxNeeds) {
  std::atomic<bool> holding = false, done = false;
  std::thread holder([&] {
    const std::lock_guard<std::mutex> hold(glomper::testing::LibraryLock());
    holding = true;
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (!holding) std::this_thread::yield();
  std::thread watchdog([&] {
    for (int i = 0; i < 500 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done) g_quit = 1;  // the box hangs on the lock: give up after 5 s
  });
  EXPECT_EQ(Show("answer", "abc"), BoxResult::kDismissed);
  done = true;
  holder.join();
  watchdog.join();
  EXPECT_EQ(answer_.user_time, 3u);
}

TEST_F(BoxHostTest, WithoutAProgramThereIsNoBox) {
  BoxHost none(-1, "glomper-box");
  BoxRequest request;
  request.title = "answer";
  EXPECT_EQ(none.Show(request, BoxWatch{g_quit, {}, {}}, answer_), BoxResult::kUnavailable);
}

}  // namespace
}  // namespace platform
