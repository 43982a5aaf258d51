#include "tests/e2e/launch.h"

#include <X11/keysym.h>

#include <cstdlib>
#include <sstream>
#include <thread>

#ifndef GLOMPER_BINARY
#error "GLOMPER_BINARY must name the game binary"
#endif

namespace e2e {

namespace {

constexpr const char* kInstructions = "HOW TO PLAY";

Point MiddleOf(const Area& a) { return {a.x + a.width / 2, a.y + a.height / 2}; }

std::string Hex(unsigned long id) {
  std::ostringstream out;
  out << "0x" << std::hex << id;
  return out.str();
}

}  // namespace

std::string GameBinary() {
  const char* override = std::getenv("GLOMPER_BINARY");
  return override != nullptr && *override ? override : GLOMPER_BINARY;
}

Process LaunchGame(XSession& x, const Launch& launch) {
  std::vector<std::string> argv;
  if (launch.box == Box::kGtkStarved) argv = {"sh", "-c", "ulimit -v 100000 && exec \"$0\" \"$@\""};
  argv.insert(argv.end(), launch.under.begin(), launch.under.end());
  argv.push_back(GameBinary());
  std::vector<std::string> env = x.ClientEnvironment();
  env.insert(env.end(), launch.env.begin(), launch.env.end());
  if (!launch.launch_id.empty()) env.push_back("DESKTOP_STARTUP_ID=" + launch.launch_id);
  if (launch.box == Box::kNoGtk) env.emplace_back("LD_PRELOAD=" GLOMPER_HIDE_GTK);
  return Process(argv, env, {"WAYLAND_DISPLAY"}, launch.stderr_path);
}

::testing::AssertionResult StartPlaying(XSession& x, Game& game, const Launch& launch) {
  if (!x.Ok()) return ::testing::AssertionFailure() << "no X server";
  if (launch.wake_ups_from == WakeUpsFrom::kLaunch) ResetWakeUpLateness();
  const Area on = launch.pointer_on.value_or(Area{0, 0, x.Width(), x.Height()});
  const Point rest = launch.pointer_at.value_or(MiddleOf(on));
  x.MovePointer(rest);
  game.launched = Clock::now();
  game.process = LaunchGame(x, launch);
  const auto box = x.WaitForWindow(kInstructions, launch.box_within);
  if (!box) return ::testing::AssertionFailure() << "no instructions box";
  game.box_shown = Clock::now();
  // Keys follow the pointer where the window manager's focus does.
  if (launch.keyboard_to_box || launch.press_once_after) x.MovePointer(MiddleOf(box->Where()));
  if (launch.keyboard_to_box) {
    if (!WaitFor([&] { return x.ActiveWindow() == box->id || x.ActiveWindow() == 0; }, Ms(5000))) {
      return ::testing::AssertionFailure()
             << "the instructions never got the keyboard: " << Hex(x.ActiveWindow())
             << " has it, not the box, " << Hex(box->id);
    }
    // The box has the keyboard now; the pointer goes back where the test wants it, wherever
    // the window manager put the box.
    if (launch.pointer_on || launch.pointer_at) x.MovePointer(rest);
  }
  if (launch.press_once_after) {
    std::this_thread::sleep_for(*launch.press_once_after);
    game.pressed = Clock::now();
    x.PressKey(XK_Return);
  } else if (!x.Dismiss(kInstructions, launch.gone_within, &game.pressed)) {
    return ::testing::AssertionFailure() << "the instructions box did not go";
  }
  if (launch.wake_ups_from == WakeUpsFrom::kBoardWait) ResetWakeUpLateness();
  // The bottom-right block of the area covered, once drawn.
  const Area drawn = launch.covered.value_or(on);
  const std::function<bool()> board_shown = launch.board_shown ? launch.board_shown : [&] {
    return x.PixelAt(drawn.x + drawn.width - 1, drawn.y + drawn.height - 1) != 0;
  };
  Clock::time_point looked = Clock::now();
  if (!WaitFor(
          [&] {
            looked = Clock::now();
            return board_shown();
          },
          launch.board_within, launch.board_every)) {
    auto failure = ::testing::AssertionFailure() << "no board";
    if (const auto window = x.FindWindowOfPid(game.process.Pid())) {
      failure << "; the window is at " << window->x << "," << window->y << " " << window->width
              << "x" << window->height;
    }
    if (x.FindWindowTitled(kInstructions)) failure << "; the instructions are still open";
    return failure;
  }
  game.board = Clock::now();
  game.board_uncertainty = game.board - looked;
  return ::testing::AssertionSuccess();
}

}  // namespace e2e
