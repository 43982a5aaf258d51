// The real binary under inspection tools: memcheck for memory errors and leaks, strace for
// the files it opens.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "tests/e2e/game_screen.h"

namespace e2e {
namespace {

// A short game: instructions, the board, a few pointer moves, Esc. Tools slow the game
// down a lot, so every wait is long.
void PlayShortGame(XSession& x, Process& game) {
  ASSERT_TRUE(x.WaitForWindow("HOW TO PLAY", Ms(60000))) << "no instructions box";
  // A dialog slowed down this much may be mapped before it takes keys: press until it goes.
  ASSERT_TRUE(WaitFor(
      [&] {
        x.PressKey(XK_Return);
        return x.WaitUntilGone("HOW TO PLAY", Ms(3000));
      },
      Ms(60000)))
      << "the instructions box did not go";
  ASSERT_TRUE(WaitFor([&] { return x.PixelAt(1023, 767) != 0; }, Ms(60000), Ms(50))) << "no board";
  for (const Point p : {Point{700, 400}, Point{200, 600}, Point{900, 100}}) {
    x.MovePointer(p.x, p.y);
    std::this_thread::sleep_for(Ms(700));
  }
  ASSERT_TRUE(game.Running());
  x.PressKey(XK_Escape);
}

TEST(MemcheckTest, AShortGameEndedByEscHasNoMemoryErrorsOrLeaksOfOurOwn) {
  XSession x(1024, 768);
  ASSERT_TRUE(x.Ok());
  const std::string log = ::testing::TempDir() + "glomper-memcheck.log";
  Process game = x.StartGame(
      "", {"valgrind", "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
           "--show-leak-kinds=definite,indirect", "--errors-for-leak-kinds=definite,indirect",
           "--track-origins=yes", "--child-silent-after-fork=yes", "--num-callers=40",
           "--suppressions=" GLOMPER_VALGRIND_SUPPRESSIONS, "--log-file=" + log});
  PlayShortGame(x, game);
  const auto status = game.WaitExit(Ms(60000));
  const std::string report = ReadTextFile(log);
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos) << report;
}

// What the game's own process may open: shared libraries; the X server's socket, its
// authority, its locale and compose tables; the system's locale data, which Xlib's input
// method loads; SDL's D-Bus machine id; fontconfig's files; device nodes; and the kernel's
// /proc and /sys. No picture, no data file of the game's.
bool AllowedForTheGame(const std::string& path) {
  auto starts = [&](std::string_view prefix) { return path.rfind(prefix, 0) == 0; };
  auto has = [&](std::string_view part) { return path.find(part) != std::string::npos; };
  const std::size_t so = path.rfind(".so");
  const bool library =
      so != std::string::npos && path.find_first_not_of("0123456789.", so + 3) == std::string::npos;
  return library || path == "/etc/ld.so.cache" || path == "/etc/ld.so.preload" ||
         starts("/tmp/.X11-unix/") || path.ends_with("/.Xauthority") ||
         path.ends_with("/.XCompose") || starts("/usr/share/X11/") || starts("/usr/lib/locale/") ||
         starts("/usr/share/locale/") || (starts("/usr/lib/") && has("/gconv/")) ||
         path == "/var/lib/dbus/machine-id" || path == "/etc/machine-id" || starts("/etc/fonts/") ||
         starts("/usr/share/fonts/") || starts("/usr/share/fontconfig/") ||
         starts("/var/cache/fontconfig/") || has("/.cache/fontconfig/") || has("/.fontconfig/") ||
         starts("/dev/") || starts("/proc/") || starts("/sys/");
}

// From a line of strace -f: PID openat(AT_FDCWD, "/path", ...) = result
bool ParseOpen(const std::string& line, std::string& pid, std::string& path) {
  const std::size_t space = line.find(' ');
  const std::size_t open_quote = line.find('"');
  if (space == std::string::npos || open_quote == std::string::npos) return false;
  const std::size_t close_quote = line.find('"', open_quote + 1);
  if (close_quote == std::string::npos) return false;
  pid = line.substr(0, space);
  path = line.substr(open_quote + 1, close_quote - open_quote - 1);
  return true;
}

TEST(FilesTest, TheGameOpensNoDataFileOfItsOwn) {
  XSession x(1024, 768);
  ASSERT_TRUE(x.Ok());
  const std::string log = ::testing::TempDir() + "glomper-strace.log";
  Process game =
      x.StartGame("", {"strace", "-f", "-qq", "-e", "trace=open,openat,openat2,creat", "-o", log});
  PlayShortGame(x, game);
  EXPECT_EQ(game.WaitExit(Ms(10000)), 0);

  std::ifstream in(log);
  std::string text, game_pid, pid, path;
  std::map<std::string, int> opened_by_game, opened_by_dialogs;
  while (std::getline(in, text)) {
    if (!ParseOpen(text, pid, path)) continue;
    if (game_pid.empty()) game_pid = pid;
    ++(pid == game_pid ? opened_by_game : opened_by_dialogs)[path];
  }
  ASSERT_FALSE(opened_by_game.empty()) << "strace saw nothing";
  for (const auto& [path, count] : opened_by_game) {
    EXPECT_TRUE(AllowedForTheGame(path)) << "the game opened " << path;
  }
  // The message-box processes load GTK with its themes and settings; they too must not
  // read anything of the game's.
  const std::string source = GLOMPER_SOURCE_DIR, build = GLOMPER_BINARY_DIR;
  for (const auto& [path, count] : opened_by_dialogs) {
    EXPECT_TRUE(path.rfind(source, 0) != 0 && path.rfind(build, 0) != 0 &&
                !path.ends_with(".gif") && !path.ends_with(".bmp") && !path.ends_with(".rgba"))
        << "a dialog opened " << path;
  }
}

}  // namespace
}  // namespace e2e
