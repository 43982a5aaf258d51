// The real binary under inspection tools: memcheck for memory errors and leaks, strace for
// the files it opens and writes.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "tests/e2e/game_screen.h"

namespace e2e {
namespace {

// A short game under a tool: instructions, the board, a few pointer moves, Esc. Tools slow
// the game down a lot, so every wait is long.
void PlayShortGame(XSession& x, Game& started, const std::vector<std::string>& under) {
  ASSERT_TRUE(StartPlaying(x, started,
                           {.under = under,
                            .box_within = Ms(60000),
                            .gone_within = Ms(60000),
                            .board_within = Ms(60000),
                            .board_every = Ms(50)}));
  Process& game = started.process;
  // Slowed down, the zorvel may not get there: only let it try.
  for (const Point p : {Point{700, 400}, Point{200, 600}, Point{900, 100}})
    ChaseDistance(x, p, Ms(3000));
  ASSERT_TRUE(game.Running());
  x.PressKey(XK_Escape);
}

TEST(MemcheckTest, AShortGameEndedByEscHasNoMemoryErrorsOrLeaksOfOurOwn) {
  XSession x(1024, 768);
  ASSERT_TRUE(x.Ok());
  const std::string log = TempPath("memcheck.log");
  Game started;
  Process& game = started.process;
  PlayShortGame(x, started,
                {"valgrind", "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
                 "--show-leak-kinds=definite,indirect", "--errors-for-leak-kinds=definite,indirect",
                 "--track-origins=yes", "--child-silent-after-fork=yes", "--num-callers=40",
                 "--suppressions=" GLOMPER_VALGRIND_SUPPRESSIONS, "--log-file=" + log});
  const auto status = game.WaitExit(Ms(60000));
  const std::string report = ReadTextFile(log);
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos) << report;
}

// One line of strace -f: PID call(args...) = result
struct Call {
  std::string pid, name, path, args;
  bool failed = false;
};

std::optional<Call> ParseCall(const std::string& line) {
  Call call;
  const std::size_t space = line.find(' '), paren = line.find('(');
  const std::size_t open_quote = line.find('"'), result = line.rfind(") = ");
  if (space == std::string::npos || paren == std::string::npos || open_quote == std::string::npos ||
      result == std::string::npos || paren < space) {
    return std::nullopt;  // an unfinished or resumed call, a signal, an exit
  }
  const std::size_t close_quote = line.find('"', open_quote + 1);
  if (close_quote == std::string::npos) return std::nullopt;
  call.pid = line.substr(0, space);
  const std::size_t name = line.find_first_not_of(' ', space);
  call.name = line.substr(name, paren - name);
  call.path = line.substr(open_quote + 1, close_quote - open_quote - 1);
  call.args = line.substr(paren, result - paren);
  call.failed = line.compare(result + 4, 2, "-1") == 0;
  return call;
}

// The game's own data: its build and source trees, what it ships (pictures, icons, the
// desktop and metainfo files), anything named after it.
bool OursToRead(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return path.starts_with(GLOMPER_SOURCE_DIR) || path.starts_with(GLOMPER_BINARY_DIR) ||
         lower.find("glomper") != std::string::npos || lower.ends_with(".gif") ||
         lower.ends_with(".bmp") || lower.ends_with(".rgba");
}

// Whether a successful call changed the file system, or a call started a program.
bool Writes(const Call& call) {
  if (call.name.starts_with("open")) {
    return call.args.find("O_WRONLY") != std::string::npos ||
           call.args.find("O_RDWR") != std::string::npos ||
           call.args.find("O_CREAT") != std::string::npos ||
           call.args.find("O_TRUNC") != std::string::npos;
  }
  return call.name.find("stat") == std::string::npos &&
         call.name.find("access") == std::string::npos;
}

// The player's session: none at all (a bare X server, ssh -X, a kiosk), or a session bus.
enum class Session { kNoBus, kBus };

class FilesTest : public ::testing::TestWithParam<Session> {};

// The rule: the game carries everything it shows inside its binary and keeps no settings, so
// none of its processes opens a file of the game's or writes any file; it starts no program
// but its own binary in the box's role (no bus of its own where there is none); it takes no
// text, so it never looks for an input method. What the system's libraries read of their own
// configuration is theirs.
TEST_P(FilesTest, TheGameOpensNoFileOfItsOwnWritesNoneAndStartsNothing) {
  XSession x(1024, 768);
  ASSERT_TRUE(x.Ok());
  const std::string log = TempPath("strace.log");
  std::vector<std::string> under = {"env", "-u", "DBUS_SESSION_BUS_ADDRESS"};
  if (GetParam() == Session::kBus) under = {"dbus-run-session", "--"};
  for (const char* arg :
       {"strace", "-f", "-qq", "-o", log.c_str(), "-e",
        "trace=execve,execveat,open,openat,openat2,creat,mkdir,mkdirat,rename,renameat,renameat2,"
        "unlink,"
        "unlinkat,link,linkat,symlink,symlinkat,truncate,chmod,fchmodat,stat,lstat,newfstatat,"
        "statx,access,faccessat,faccessat2"}) {
    under.push_back(arg);
  }
  Game launched;
  Process& game = launched.process;
  PlayShortGame(x, launched, under);
  EXPECT_EQ(game.WaitExit(Ms(30000)), 0);
  EXPECT_TRUE(WaitFor([&] { return game.GroupGone(); }, Ms(5000))) << "a process outlived the game";

  std::ifstream in(log);
  int opened = 0, started = 0, boxes = 0;
  for (std::string line; std::getline(in, line);) {
    // A box: the game's own program, opened when the game started, in the box's role. (Its
    // line may be split by another process's call: the start of it names the program.)
    if (line.find(" execveat(") != std::string::npos) {
      EXPECT_NE(line.find("[\"glomper-box\"]"), std::string::npos) << "started " << line;
      ++boxes;
      continue;
    }
    const auto call = ParseCall(line);
    if (!call) continue;
    EXPECT_EQ(call->path.find("/ibus/"), std::string::npos)
        << "process " << call->pid << " looked for an input method: " << line;
    if (call->name == "execve") {
      ++started;  // the game itself; any other, even one that failed, is a program started
      continue;
    }
    if (call->failed) continue;
    ++opened;
    EXPECT_FALSE(OursToRead(call->path)) << "process " << call->pid << " opened " << call->path;
    EXPECT_FALSE(Writes(*call) && !call->path.starts_with("/dev/"))
        << "process " << call->pid << " wrote: " << line;
  }
  EXPECT_GT(opened, 20) << "strace saw nothing";
  EXPECT_EQ(started, 1) << "the game started a program";
  EXPECT_EQ(boxes, 1) << "the instructions";
}

INSTANTIATE_TEST_SUITE_P(Sessions, FilesTest, ::testing::Values(Session::kNoBus, Session::kBus),
                         [](const auto& info) {
                           return info.param == Session::kBus ? std::string("Bus")
                                                              : std::string("NoBus");
                         });

}  // namespace
}  // namespace e2e
