#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/x_client.h"
#include "tests/e2e/x_session.h"

// Starting the real game on a session, and getting through its instructions to play.
namespace e2e {

// Which message box the game can show: GTK's, or its own where GTK is missing (hidden by a
// preloaded library) or cannot start (too little memory for its threads).
enum class Box { kGtk, kNoGtk, kGtkStarved };

// From when WorstWakeUpLateness counts again: the whole start, or only the wait for the board
// (when the board's moment is what a timing check measures from).
enum class WakeUpsFrom { kLaunch, kBoardWait };

// How a test starts the game; each field says where it differs from a player's plain start.
struct Launch {
  Box box = Box::kGtk;
  std::string stderr_path{};  // the game's standard error; empty: thrown away
  // The monitor the player starts on: the pointer waits in its middle (else the screen's).
  std::optional<Area> pointer_on{};
  // Where the board must be drawn (else where the pointer is, else the whole screen).
  std::optional<Area> covered{};
  std::string launch_id{};            // DESKTOP_STARTUP_ID, as a menu launches the game
  std::vector<std::string> env{};     // more of the game's environment
  std::vector<std::string> under{};   // a tool the game runs under: valgrind, strace
  std::optional<Point> pointer_at{};  // an exact place for the pointer instead
  // What says the board is there (else: the bottom-right pixel of `covered` is drawn).
  std::function<bool()> board_shown{};
  // Points at the box and waits until the window manager gives it the keyboard before
  // Return: the box must get the keyboard by itself.
  bool keyboard_to_box = false;
  // Lets the box take the keyboard this long, then presses Return once (rather than until
  // the box goes): a benchmark times what follows one press.
  std::optional<Ms> press_once_after{};
  Ms box_within{20000};   // tools slow the game down: they wait longer
  Ms gone_within{20000};  // for the box to go after Return
  Ms board_within{20000};
  Ms board_every{2};
  WakeUpsFrom wake_ups_from = WakeUpsFrom::kLaunch;
};

// A game started by StartPlaying, and the moments a timing check measures from.
struct Game {
  Process process;
  Clock::time_point launched;           // the process was started
  Clock::time_point box_shown;          // the instructions were seen
  Clock::time_point pressed;            // Return first went out: play cannot have started before
  Clock::time_point board;              // the board was seen
  Clock::duration board_uncertainty{};  // how long the look that saw the board took
};

// The game binary: GLOMPER_BINARY in the environment overrides the built one.
std::string GameBinary();

// Starts the game on `x`; its instructions are left for the test.
Process LaunchGame(XSession& x, const Launch& launch = {});

// Starts the game, dismisses its instructions with Return and returns once the board is
// drawn.
::testing::AssertionResult StartPlaying(XSession& x, Game& game, const Launch& launch = {});

}  // namespace e2e
