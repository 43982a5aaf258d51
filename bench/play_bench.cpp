// glomper-play-bench [--runs N] [--json FILE]
//
// Plays the real game on a private Xvfb 1024 × 768 with openbox, as a player would: launch,
// dismiss the instructions, circle the pointer (radius 250 px about the centre, one turn per
// 2 s) for 20 s, then Esc. Measures from /proc and the X server what the game costs. The
// first run only warms the caches; the medians of the others are reported.
#include <X11/keysym.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/launch.h"
#include "tests/e2e/machine_load.h"
#include "tests/e2e/x_session.h"

namespace {

using e2e::Clock;
using e2e::Ms;

struct Run {
  double cpu_percent = 0;  // user + system time per second of play, % of one core
  double peak_rss_mb = 0;  // VmHWM of the game's own process
  double launch_to_box_ms = 0;
  double return_to_board_ms = 0;
  int exit_status = -1;
};

// A figure of a run, by member.
using Figure = double Run::*;

struct Budget {
  const char* name;
  Figure field;
  double limit;
  const char* unit;
};

const Budget kBudgets[] = {
    {"CPU during play", &Run::cpu_percent, 3.0, "% of one core"},
    {"peak resident memory", &Run::peak_rss_mb, 24.0, "MB"},
    {"launch -> instructions box mapped", &Run::launch_to_box_ms, 200.0, "ms"},
    {"Return -> first frame with the board", &Run::return_to_board_ms, 100.0, "ms"},
};

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool PlayOnce(Run& run) {
  e2e::XSession x(1024, 768);
  if (!x.Ok()) return false;
  e2e::Game game;
  // One press of Return, once the box has had time to take the keyboard: what follows it is
  // timed. The bottom-right block is under no dialog, drawn with the board's first frame.
  if (!e2e::StartPlaying(x, game,
                         {.press_once_after = Ms(300),
                          .box_within = Ms(10000),
                          .board_within = Ms(5000),
                          .board_every = Ms(0)})) {
    return false;
  }
  run.launch_to_box_ms = Millis(game.box_shown - game.launched);
  run.return_to_board_ms = Millis(game.board - game.pressed);

  const Clock::duration cpu_before = e2e::CpuTime(game.process.Pid());
  const auto from = Clock::now();
  for (auto now = from; now - from < Ms(20000); now = Clock::now()) {
    const double turn = std::chrono::duration<double>(now - from).count() / 2.0;
    x.MovePointer(static_cast<int>(512 + 250 * std::cos(2 * M_PI * turn)),
                  static_cast<int>(384 + 250 * std::sin(2 * M_PI * turn)));
    std::this_thread::sleep_for(Ms(10));
  }
  const double played = std::chrono::duration<double>(Clock::now() - from).count();
  run.cpu_percent = 100 * Seconds(e2e::CpuTime(game.process.Pid()) - cpu_before) / played;
  run.peak_rss_mb = static_cast<double>(e2e::MemoryKb(game.process.Pid(), "VmHWM:")) / 1024;
  x.PressKey(XK_Escape);
  run.exit_status = game.process.WaitExit(Ms(2000)).value_or(-1);
  return true;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::string json = "glomper-bench.json";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    if (arg == "--json") json = argv[i + 1];
  }

  std::vector<Run> results;
  for (int i = 0; i <= runs; ++i) {
    Run run;
    if (!PlayOnce(run)) {
      std::fprintf(stderr, "glomper-play-bench: run %d failed to play\n", i);
      return 1;
    }
    std::printf("%s run %d: cpu %.2f %%, peak %.1f MB, box %.0f ms, board %.0f ms, exit %d\n",
                i == 0 ? "warm-up" : "measured", i, run.cpu_percent, run.peak_rss_mb,
                run.launch_to_box_ms, run.return_to_board_ms, run.exit_status);
    if (i > 0) results.push_back(run);
  }

  bool within = true;
  std::ofstream out(json);
  out << "{\n  \"screen\": \"1024x768\",\n  \"runs\": [\n";
  for (std::size_t i = 0; i < results.size(); ++i) {
    const Run& r = results[i];
    out << "    {\"cpu_percent\": " << r.cpu_percent << ", \"peak_rss_mb\": " << r.peak_rss_mb
        << ", \"launch_to_box_ms\": " << r.launch_to_box_ms
        << ", \"return_to_board_ms\": " << r.return_to_board_ms
        << ", \"exit_status\": " << r.exit_status << "}" << (i + 1 < results.size() ? "," : "")
        << "\n";
    within = within && r.exit_status == 0;
  }
  out << "  ],\n  \"medians\": {";
  std::printf("\n%-40s %12s %10s  %s\n", "figure (median of runs)", "measured", "budget", "");
  for (std::size_t b = 0; b < std::size(kBudgets); ++b) {
    const Budget& budget = kBudgets[b];
    std::vector<double> values;
    for (const Run& r : results) values.push_back(r.*budget.field);
    const double median = Median(values);
    const bool ok = median <= budget.limit;
    within = within && ok;
    std::printf("%-40s %9.2f %-3s %7.1f %-3s %s\n", budget.name, median,
                budget.unit[0] == '%' ? "%" : budget.unit, budget.limit,
                budget.unit[0] == '%' ? "%" : budget.unit, ok ? "ok" : "OVER");
    out << (b ? ", " : "") << "\"" << budget.name << "\": {\"value\": " << median
        << ", \"budget\": " << budget.limit << ", \"unit\": \"" << budget.unit << "\"}";
  }
  out << "},\n  \"exit_statuses_zero\": "
      << (std::all_of(results.begin(), results.end(),
                      [](const Run& r) { return r.exit_status == 0; })
              ? "true"
              : "false")
      << "\n}\n";
  std::printf("\nfigures written to %s\n", json.c_str());
  return within ? 0 : 1;
}
