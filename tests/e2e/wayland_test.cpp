// The real binary natively on a Wayland compositor, with no X display at all: each kind of box
// ends as promised, the window is full screen from its first frame and sends only what
// changed, and the compositor going away ends the game with its own line.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/wayland_session.h"

namespace e2e {
namespace {

constexpr unsigned kReturn = 0xFF0D, kEscape = 0xFF1B;
constexpr int kWidth = 1024, kHeight = 768;

const std::string kInstructionsLine =
    "HOW TO PLAY: Have the zorvel destroy all the crumble blocks before its Health Bar runs out! "
    "Press 'Esc' at any time to be a wuss and quit.";

class WaylandTest : public ::testing::TestWithParam<Box> {
 protected:
  // Starts the game and waits for its window's first frame: the instructions are dismissed
  // with Return where there is a box to show them, and said on standard error where not.
  ::testing::AssertionResult StartAndDismiss() {
    if (!session_.Ok()) return ::testing::AssertionFailure() << "no mutter session";
    game_ = session_.StartGame(GetParam(), err_);
    const bool box = GetParam() == Box::kGtk;
    const bool shown = WaitFor(
        [&] {
          if (box) session_.PressKey(kReturn);
          trace_ = ReadWaylandTrace(err_);
          return !trace_.frames.empty() || !game_.Running();
        },
        Ms(20000), Ms(box ? 250 : 20));
    if (!shown) return ::testing::AssertionFailure() << "no game window";
    if (const auto ended = game_.WaitExit(Ms(0))) {
      return ::testing::AssertionFailure() << "the game ended with status " << *ended;
    }
    return ::testing::AssertionSuccess();
  }

  WaylandSession session_{kWidth, kHeight};
  const std::string err_ = TempPath("stderr");
  Process game_;
  WaylandTrace trace_;
};

TEST_P(WaylandTest, TheBoxEndsAsPromisedAndTheWindowIsFullScreenFromItsFirstFrame) {
  ASSERT_TRUE(StartAndDismiss());
  // A box, or where none can be shown one line on standard error, and play goes on.
  if (GetParam() == Box::kGtk) {
    EXPECT_TRUE(trace_.said.empty()) << trace_.said.front();
  } else {
    ASSERT_EQ(trace_.said.size(), 1u);
    EXPECT_EQ(trace_.said.front(), kInstructionsLine);
  }
  EXPECT_TRUE(trace_.full_screen_asked_first) << "full screen asked for after the first commit";
  ASSERT_FALSE(trace_.configures.empty());
  EXPECT_EQ(trace_.configures.front(), std::pair(kWidth, kHeight)) << "the first configure";
  // The window's first frame is of the screen's size, as the compositor configured it, and
  // the viewport SDL put on the surface says the same.
  const WaylandTrace::Frame& first = trace_.frames.front();
  EXPECT_EQ(std::pair(first.buffer_width, first.buffer_height), std::pair(kWidth, kHeight));
  EXPECT_EQ(trace_.configured_before_frame.front(), std::pair(kWidth, kHeight));
  EXPECT_LE(trace_.viewports, 1) << "a second viewport for one surface";
  EXPECT_LE(trace_.scales, 1) << "a second scale object for one surface";
  // No toolkit lives in the game's own process: SDL 3 would have libdecor load GTK there.
  const std::string maps = ReadTextFile("/proc/" + std::to_string(game_.Pid()) + "/maps");
  EXPECT_EQ(maps.find("libgtk-3"), std::string::npos) << "GTK in the game's process";

  // Play: only what changed goes to the compositor.
  ASSERT_TRUE(WaitFor(
      [&] {
        trace_ = ReadWaylandTrace(err_);
        return trace_.frames.size() > 20;
      },
      Ms(10000)))
      << "no play";
  // The game damages what changed, and SDL 3 nothing; SDL 2 asks for frame callbacks on
  // the surface from its creation on and damages all of it before each (Debian 12 and 13).
  long damage_only = 0, damaged_by_others = 0;
  for (std::size_t i = 0; i < trace_.frames.size(); ++i) {
    const WaylandTrace::Frame& frame = trace_.frames[i];
    const std::pair size{frame.buffer_width, frame.buffer_height};
    EXPECT_EQ(size, trace_.configured_before_frame[i]) << "frame " << i;
    if (frame.viewport) {
      EXPECT_EQ(*frame.viewport, size) << "frame " << i;
    }
    long area = 0;
    for (const platform::PixelRect& r : frame.damage) area += r.Area();
    EXPECT_GT(area, 0) << "frame " << i << " damages nothing";
    if (area < kWidth * kHeight / 4) ++damage_only;
    if (!frame.damaged_before.empty()) ++damaged_by_others;
  }
  EXPECT_GT(damage_only, static_cast<long>(trace_.frames.size()) / 2);
  if (trace_.early_frame_requests == 0) {
    EXPECT_EQ(damaged_by_others, 0) << "frames damaged whole besides what the game drew";
  }

  ASSERT_TRUE(session_.PressKey(kEscape));
  EXPECT_EQ(game_.WaitExit(Ms(2000)), 0) << "Esc";
  EXPECT_FALSE(game_.DumpedCore());
}

TEST_P(WaylandTest, TheCompositorGoingAwayEndsTheGameWithItsOwnLine) {
  ASSERT_TRUE(StartAndDismiss());
  session_.KillCompositor();
  EXPECT_EQ(game_.WaitExit(Ms(2000)), 1);
  EXPECT_FALSE(game_.DumpedCore());
  const WaylandTrace trace = ReadWaylandTrace(err_);
  ASSERT_FALSE(trace.said.empty());
  EXPECT_EQ(trace.said.back(), "glomper: lost the connection to the display");
}

std::string BoxName(const ::testing::TestParamInfo<Box>& info) {
  static const char* const kNames[] = {"Gtk", "NoGtk", "GtkStarved"};
  return kNames[static_cast<int>(info.param)];
}

// The defeat's box belongs to the full-screen window (the compositor is told so through
// xdg-foreign), so it comes over it with the keyboard: Return ends the game. Where no box can
// be shown, the message is a line on standard error and the game ends as if dismissed.
TEST_P(WaylandTest, TheBarRunsOutAfter78SecondsThenTheDefeatBoxEndsTheGame) {
  ASSERT_TRUE(StartAndDismiss());
  // The window stops changing once the bar is gone: 7801 ticks of 10 ms after play starts.
  const auto started = Clock::now();
  std::size_t frames = 0;
  const bool quiet = WaitFor(
      [&] {
        const std::size_t now = ReadWaylandTrace(err_).frames.size();
        const bool still = now == frames && Clock::now() - started > Ms(78000);
        frames = now;
        return still || !game_.Running();
      },
      Ms(90000), Ms(500));
  ASSERT_TRUE(quiet) << "the game went on drawing";
  if (GetParam() == Box::kGtk) {
    ASSERT_TRUE(game_.Running()) << "the game ended before the defeat box";
    EXPECT_TRUE(WaitFor(
        [&] {
          session_.PressKey(kReturn);
          return !game_.Running();
        },
        Ms(20000), Ms(250)))
        << "Return never reached the defeat box";
  }
  EXPECT_EQ(game_.WaitExit(Ms(2000)), 0);
  const WaylandTrace trace = ReadWaylandTrace(err_);
  if (GetParam() == Box::kGtk) {
    EXPECT_TRUE(trace.said.empty()) << trace.said.front();
  } else {
    ASSERT_FALSE(trace.said.empty());
    EXPECT_EQ(trace.said.back(), "MISSION FAILED: MISSION FAILED!");
  }
}

INSTANTIATE_TEST_SUITE_P(Boxes, WaylandTest,
                         ::testing::Values(Box::kGtk, Box::kNoGtk, Box::kGtkStarved), BoxName);

}  // namespace
}  // namespace e2e
