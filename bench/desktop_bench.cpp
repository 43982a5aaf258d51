// glomper-desktop-bench DESKTOP [--runs N] [--strace N] [--after-sigterm N]
//
// Starts the game on a fresh desktop session (a window manager on Xvfb, or mutter with Xwayland) at
// 1024 × 768 and measures, per run: the time from pressing Return on the instructions to the
// game window covering the screen, and to the board being drawn; then the game's CPU use
// over 3 s of play (pointer circling) and its peak resident memory. Of the runs, --strace N
// run the game under strace -f, and --after-sigterm N first play a game in the same session
// and end it with SIGTERM. Prints one line a run and a summary; exits non-zero if any run
// took more than 0.3 s to cover the screen or a game did not end with status 0.
#include <X11/keysym.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/x_session.h"

namespace {

using e2e::Clock;
using e2e::Ms;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double CpuSeconds(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.empty()) return 0;
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;
  long utime = 0, stime = 0;
  fields >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

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

struct Run {
  std::string kind;
  double cover_ms = -1, board_ms = -1, cpu_percent = 0, peak_rss_mb = 0;
  double waited_ms = 0;  // of that time, how long the game's and the X server's main threads
                         // sat ready to run without a processor: what the machine's load cost
  int status = -1;
  bool complaint = false;  // mutter's "Buggy client" about the activation
};

// Launches the game, dismisses the box, and waits for the board; false if it never came.
bool Launch(e2e::XSession& x, e2e::Process& game, const std::vector<std::string>& under,
            Clock::time_point& pressed) {
  x.MovePointer(512, 384);
  game = x.StartGame("", under);
  const auto box = x.WaitForWindow("HOW TO PLAY", Ms(30000));
  if (!box) return false;
  x.MovePointer(box->x + box->width / 2, box->y + box->height / 2);
  e2e::WaitFor([] { return false; }, Ms(100));  // let the box take the focus
  pressed = Clock::now();
  x.PressKey(XK_Return);
  return true;
}

Run Measure(e2e::Desktop desktop, const std::string& kind) {
  Run run;
  run.kind = kind;
  e2e::XSession x(1024, 768, desktop);
  if (!x.Ok()) return run;
  e2e::Process game;
  Clock::time_point pressed;
  if (kind == "after-sigterm") {
    if (!Launch(x, game, {}, pressed)) return run;
    e2e::WaitFor([&] { return x.PixelAt(1023, 767) != 0; }, Ms(20000));
    game.Signal(SIGTERM);
    game.WaitExit(Ms(5000));
  }
  const std::vector<std::string> under =
      kind == "strace" ? std::vector<std::string>{"strace", "-f", "-o", "/dev/null"}
                       : std::vector<std::string>{};
  if (!Launch(x, game, under, pressed)) return run;
  const int game_pid = kind == "strace" ? TracedPid(game.Pid()) : game.Pid();
  const int server = x.ServerPid();
  const Clock::duration waited_before = WaitedToRun(game_pid) + WaitedToRun(server);
  e2e::WaitFor(
      [&] {
        const auto w = x.FindWindowOfPid(game_pid);
        const bool covers = w && w->x == 0 && w->y == 0 && w->width == 1024 && w->height == 768;
        if (covers) {
          run.cover_ms = Millis(Clock::now() - pressed);
          run.waited_ms = Millis(WaitedToRun(game_pid) + WaitedToRun(server) - waited_before);
        }
        return covers;
      },
      Ms(10000), Ms(1));
  if (e2e::WaitFor([&] { return x.PixelAt(1023, 767) != 0; }, Ms(10000), Ms(1))) {
    run.board_ms = Millis(Clock::now() - pressed);
  }
  const double cpu_before = CpuSeconds(game_pid);
  const auto from = Clock::now();
  for (int step = 0; step < 300; ++step) {
    const double a = step * 2 * M_PI / 200;
    x.MovePointer(512 + static_cast<int>(250 * std::cos(a)),
                  384 + static_cast<int>(250 * std::sin(a)));
    std::this_thread::sleep_for(Ms(10));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
  run.cpu_percent = 100 * (CpuSeconds(game_pid) - cpu_before) / seconds;
  run.peak_rss_mb = static_cast<double>(e2e::XSession::MemoryKb(game_pid, "VmHWM:")) / 1024;
  x.PressKey(XK_Escape);
  run.status = game.WaitExit(Ms(5000)).value_or(-1);
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
                 "usage: %s openbox|xfwm4|i3|mutter|kwin_x11|fluxbox|icewm|metacity [--runs N] "
                 "[--strace N] "
                 "[--after-sigterm N]\n",
                 argv[0]);
    return 2;
  }
  const std::string name = argv[1];
  e2e::Desktop desktop = e2e::Desktop::kOpenbox;
  for (const e2e::Desktop d : e2e::kAllDesktops) {
    if (e2e::DesktopName(d) == name) desktop = d;
  }
  int runs = 20, traced = 0, after_sigterm = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const int n = std::atoi(argv[i + 1]);
    if (flag == "--runs") runs = n;
    if (flag == "--strace") traced = n;
    if (flag == "--after-sigterm") after_sigterm = n;
  }
  std::vector<Run> all;
  for (int i = 0; i < runs; ++i) {
    const std::string kind = i < traced                   ? "strace"
                             : i < traced + after_sigterm ? "after-sigterm"
                                                          : "plain";
    const Run r = Measure(desktop, kind);
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
