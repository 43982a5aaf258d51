// glomper-desktop-bench DESKTOP [--runs N] [--strace N] [--after-sigterm N] [--launch-id N]
//
// Starts the game on a fresh desktop session (a window manager on Xvfb, or mutter or KDE's
// kwin_wayland with Xwayland) at
// 1024 × 768 and measures, per run: the time from pressing Return on the instructions to the
// game window covering the screen, and to the board being drawn; then the game's CPU use
// over 3 s of play (pointer circling) and its peak resident memory. Of the runs, --strace N
// run the game under strace -f, --after-sigterm N first play a game in the same session
// and end it with SIGTERM, and --launch-id N are launched as a menu launches the game (with a
// startup notification ID); the others as from a terminal, with none. Every run waits for the
// instructions box to have the keyboard by itself before it presses Return. Prints one line a
// run and a summary; exits non-zero if a box never got the keyboard, a run took more than
// 0.3 s to cover the screen, or a game did not end with status 0.
#include <X11/keysym.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/launch.h"
#include "tests/e2e/machine_load.h"
#include "tests/e2e/x_session.h"

namespace {

using e2e::Clock;
using e2e::Ms;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The game's own process under strace: strace's child (the box is the game's child).
int TracedPid(int pid) {
  std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                         "/children");
  int child = 0;
  return children >> child ? child : pid;
}

// How long a process's main thread has sat ready to run without a processor, in all.
Clock::duration WaitedToRun(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/schedstat");
  long long on_cpu = 0, waited = 0;
  in >> on_cpu >> waited;
  return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(waited));
}

// The window managers measured here only: each on Xvfb, as the tests run openbox.
const e2e::WindowManager kOtherWindowManagers[] = {
    // KDE's and GNOME's older window manager read their settings over a session bus.
    {"kwin_x11",
     [](const std::string&) {
       return std::vector<std::string>{"dbus-run-session", "--", "kwin_x11"};
     }},
    {"metacity",
     [](const std::string&) {
       return std::vector<std::string>{"dbus-run-session", "--", "metacity"};
     }},
    {"fluxbox", [](const std::string&) { return std::vector<std::string>{"fluxbox"}; }},
    {"icewm", [](const std::string&) { return std::vector<std::string>{"icewm"}; }},
};

constexpr e2e::Desktop kTestDesktops[] = {e2e::Desktop::kNone,   e2e::Desktop::kOpenbox,
                                          e2e::Desktop::kXfwm4,  e2e::Desktop::kI3,
                                          e2e::Desktop::kMutter, e2e::Desktop::kKde};

// A fresh session of the desktop named; none if there is no such desktop.
std::unique_ptr<e2e::XSession> SessionOf(const std::string& name) {
  for (const e2e::Desktop d : kTestDesktops) {
    if (e2e::DesktopName(d) == name) return std::make_unique<e2e::XSession>(1024, 768, d);
  }
  for (const e2e::WindowManager& wm : kOtherWindowManagers) {
    if (wm.name == name) return std::make_unique<e2e::XSession>(1024, 768, wm);
  }
  return nullptr;
}

bool Known(const std::string& name) {
  for (const e2e::Desktop d : kTestDesktops) {
    if (e2e::DesktopName(d) == name) return true;
  }
  for (const e2e::WindowManager& wm : kOtherWindowManagers) {
    if (wm.name == name) return true;
  }
  return false;
}

struct Run {
  std::string kind;
  double cover_ms = -1, board_ms = -1, cpu_percent = 0, peak_rss_mb = 0;
  double waited_ms = 0;  // of that time, how long the game's and the X server's main threads
                         // sat ready to run without a processor: what the machine's load cost
  int status = -1;
  bool complaint = false;  // mutter's "Buggy client" about the activation
};

Run Measure(const std::string& desktop, const std::string& kind) {
  Run run;
  run.kind = kind;
  const std::unique_ptr<e2e::XSession> session = SessionOf(desktop);
  e2e::XSession& x = *session;
  if (!x.Ok()) return run;
  // One press of Return, after letting the box take the keyboard: what follows is timed.
  const e2e::Launch plain = {.press_once_after = Ms(100), .box_within = Ms(30000)};
  e2e::Game game;
  if (kind == "after-sigterm") {
    if (!e2e::StartPlaying(x, game, plain)) return run;
    game.process.Signal(SIGTERM);
    game.process.WaitExit(Ms(5000));
  }
  const std::vector<std::string> under =
      kind == "strace" ? std::vector<std::string>{"strace", "-f", "-o", "/dev/null"}
                       : std::vector<std::string>{};
  // The game's own process is known once it runs: under strace, strace's child.
  int game_pid = 0;
  const int server = x.ServerPid();
  Clock::duration waited_before{};
  std::optional<Clock::time_point> covered;
  auto covers_then_board = [&] {
    if (game_pid == 0) {
      game_pid = kind == "strace" ? TracedPid(game.process.Pid()) : game.process.Pid();
      waited_before = WaitedToRun(game_pid) + WaitedToRun(server);
    }
    if (!covered) {
      const auto w = x.FindWindowOfPid(game_pid);
      if (w && w->x == 0 && w->y == 0 && w->width == 1024 && w->height == 768) {
        covered = Clock::now();
        run.waited_ms = Millis(WaitedToRun(game_pid) + WaitedToRun(server) - waited_before);
      }
    }
    return covered && x.PixelAt(1023, 767) != 0;
  };
  const std::string launch_id =
      kind == "launch-id" ? "glomper-bench-" + std::to_string(getpid()) + "_TIME0" : "";
  const bool board = static_cast<bool>(e2e::StartPlaying(x, game,
                                                         {.launch_id = launch_id,
                                                          .under = under,
                                                          .board_shown = covers_then_board,
                                                          .keyboard_to_box = true,
                                                          .press_once_after = Ms(100),
                                                          .box_within = Ms(30000),
                                                          .board_every = Ms(1)}));
  if (covered) run.cover_ms = Millis(*covered - game.pressed);
  if (game_pid == 0) return run;  // no instructions box
  if (board) run.board_ms = Millis(game.board - game.pressed);
  const Clock::duration cpu_before = e2e::CpuTime(game_pid);
  const auto from = Clock::now();
  for (int step = 0; step < 300; ++step) {
    const double a = step * 2 * M_PI / 200;
    x.MovePointer(512 + static_cast<int>(250 * std::cos(a)),
                  384 + static_cast<int>(250 * std::sin(a)));
    std::this_thread::sleep_for(Ms(10));
  }
  const double seconds = Seconds(Clock::now() - from);
  run.cpu_percent = 100 * Seconds(e2e::CpuTime(game_pid) - cpu_before) / seconds;
  run.peak_rss_mb = static_cast<double>(e2e::MemoryKb(game_pid, "VmHWM:")) / 1024;
  x.PressKey(XK_Escape);
  run.status = game.process.WaitExit(Ms(5000)).value_or(-1);
  run.complaint = x.WindowManagerLog().find("Buggy client") != std::string::npos;
  return run;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s none|openbox|xfwm4|i3|mutter|kde|kwin_x11|fluxbox|icewm|metacity "
                 "[--runs N] [--strace N] [--after-sigterm N] [--launch-id N]\n",
                 argv[0]);
    return 2;
  }
  const std::string name = Known(argv[1]) ? argv[1] : "openbox";
  int runs = 20, traced = 0, after_sigterm = 0, launched = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const int n = std::atoi(argv[i + 1]);
    if (flag == "--runs") runs = n;
    if (flag == "--strace") traced = n;
    if (flag == "--after-sigterm") after_sigterm = n;
    if (flag == "--launch-id") launched = n;
  }
  std::vector<Run> all;
  for (int i = 0; i < runs; ++i) {
    const std::string kind = i < traced                              ? "strace"
                             : i < traced + after_sigterm            ? "after-sigterm"
                             : i < traced + after_sigterm + launched ? "launch-id"
                                                                     : "plain";
    const Run r = Measure(name, kind);
    std::printf(
        "%-7s run %2d %-13s Return->covered %7.1f ms (waiting for a CPU %5.1f ms)  ->board %7.1f "
        "ms  CPU %5.2f %%  peak RSS %5.1f MB  exit %d%s\n",
        name.c_str(), i + 1, kind.c_str(), r.cover_ms, r.waited_ms, r.board_ms, r.cpu_percent,
        r.peak_rss_mb, r.status, r.complaint ? "  (mutter: Buggy client)" : "");
    std::fflush(stdout);
    all.push_back(r);
  }
  std::vector<double> cover, board, cpu, rss;
  bool ok = true;
  for (const Run& r : all) {
    cover.push_back(r.cover_ms);
    board.push_back(r.board_ms);
    if (r.kind != "strace") cpu.push_back(r.cpu_percent);
    if (r.kind != "strace") rss.push_back(r.peak_rss_mb);
    ok = ok && r.cover_ms >= 0 && r.cover_ms <= 300 && r.status == 0 && !r.complaint;
  }
  std::printf(
      "%s, %d runs: Return->covered median %.1f ms, max %.1f ms; ->board median %.1f "
      "ms, max %.1f ms; CPU median %.2f %% of a core; peak RSS median %.1f MB%s\n",
      name.c_str(), runs, Median(cover), *std::max_element(cover.begin(), cover.end()),
      Median(board), *std::max_element(board.begin(), board.end()), Median(cpu), Median(rss),
      ok ? "" : "  SOME RUN FAILED");
  return ok ? 0 : 1;
}
