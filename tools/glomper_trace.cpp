// glomper-trace WIDTH HEIGHT [--ticks N] < script
//
// Plays the whole game headless on a WIDTH × HEIGHT pixel screen from its first tick and
// prints the game's state after every tick, to check the game's numbers by hand. Each
// script line is one tick: "X Y" moves the pointer (pixels) before that tick, "-" does not.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "assets/sprite_set.h"
#include "platform/headless/headless_system.h"
#include "shell/form1.h"
#include "shell/game_main.h"

namespace {

constexpr int kBadInput = 2;

[[noreturn]] void Fail(const std::string& why) {
  std::cerr << "glomper-trace: " << why << "\n";
  std::exit(kBadInput);
}

long ParseCount(const std::string& text, const char* what, long max) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < 1 || value > max) {
    Fail(std::string(what) + " must be a whole number from 1 to " + std::to_string(max) +
         ", not '" + text + "'");
  }
  return value;
}

struct Move {
  float x, y;
};

// A script line: a pointer move, or nullopt for "-".
std::optional<Move> ParseLine(const std::string& line, long number) {
  std::istringstream in(line);
  std::string first;
  in >> first;
  if (first == "-") {
    std::string rest;
    if (!(in >> rest)) return std::nullopt;
  } else {
    std::istringstream again(line);
    Move move{};
    std::string rest;
    if ((again >> move.x >> move.y) && !(again >> rest)) return move;
  }
  Fail("line " + std::to_string(number) + " is neither 'X Y' nor '-': '" + line + "'");
}

int VisibleFrame(const glomper::Form1& form) {
  for (int k = 0; k < glomper::assets::kCreatureFrames; ++k) {
    if (form.Image1(k).Visible()) return k;
  }
  return -1;
}

// How the game ended, told by its state rather than by the words of its messages: the bar
// is hidden only by defeat, and the count reaches zero only by victory.
std::string Event(const platform::HeadlessSystem& system, const glomper::Form1& form) {
  if (!system.Ended()) return "";
  if (!form.Picture2.Visible()) return "defeat";
  if (form.BlocksEaten > 0 && form.BlocksLeft == 0) return "victory";
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<long> ticks;
  std::string sizes[2];
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--ticks" && i + 1 < argc) {
      ticks = ParseCount(argv[++i], "--ticks", 100'000'000);
    } else if (positional < 2) {
      sizes[positional++] = arg;
    } else {
      Fail("usage: glomper-trace WIDTH HEIGHT [--ticks N] < script");
    }
  }
  if (positional != 2) Fail("usage: glomper-trace WIDTH HEIGHT [--ticks N] < script");
  const int width = static_cast<int>(ParseCount(sizes[0], "WIDTH", 32767));
  const int height = static_cast<int>(ParseCount(sizes[1], "HEIGHT", 32767));
  // Refused as the game refuses it, before a screen of that size is even allocated.
  const long cells =
      glomper::Form1::BoardCells(width * glomper::kTwipsPerPixel, height * glomper::kTwipsPerPixel,
                                 glomper::Form1::kBlockSide, glomper::Form1::kBlockSide);
  if (cells > glomper::kIntegerMax) {
    Fail("a " + sizes[0] + " x " + sizes[1] + " screen needs a board of " + std::to_string(cells) +
         " cells; the game plays at most " + std::to_string(glomper::kIntegerMax));
  }

  // The whole script is read first, so that bad input stops the tool before any output.
  std::vector<std::optional<Move>> script;
  for (std::string line; std::getline(std::cin, line);) {
    script.push_back(ParseLine(line, static_cast<long>(script.size()) + 1));
  }

  platform::HeadlessSystem system(width, height);
  std::unique_ptr<glomper::Form1> form;
  system.RunAsEvent([&] { form = glomper::Main(system); });
  while (!system.Ended() && !form->Timer1.Enabled()) system.Step();

  const glomper::Form1& f = *form;
  std::printf("# Columns=%d Rows=%d BlockCount=%d blocks_created=%d\n", f.Columns, f.Rows,
              f.BlockCount, f.Image2.Size());
  if (system.Ended()) {
    std::printf("# the game ended before play: %s\n", system.Messages().back().title.c_str());
    return 0;
  }

  const long last_tick = ticks ? *ticks : static_cast<long>(script.size());
  for (long tick = 1; tick <= last_tick; ++tick) {
    const std::size_t line = static_cast<std::size_t>(tick - 1);
    if (line < script.size() && script[line]) system.MovePointer(script[line]->x, script[line]->y);
    system.Step();
    std::printf("%ld,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%d,%d,%d,%d,%d,%.9g,%d,%s\n", tick, f.MouseX,
                f.MouseY, glomper::Pixels(f.Picture1.Left()), glomper::Pixels(f.Picture1.Top()),
                f.SpeedX, f.SpeedY, f.CellColumn, f.CellRow, f.CellIndex, f.BlocksEaten,
                f.BlocksLeft, f.Picture2.Width(), VisibleFrame(f), Event(system, f).c_str());
    if (system.Ended()) break;
  }
  return 0;
}
