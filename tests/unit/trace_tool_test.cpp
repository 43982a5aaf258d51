// The developer's trace tool: its output format and its refusal of bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TraceRun {
  int status;
  std::vector<std::string> lines;
  std::string errors;
};

TraceRun Trace(const std::string& args, const std::string& script) {
  // Tests may run side by side: each process has files of its own.
  const std::string dir = ::testing::TempDir() + "glomper-trace-" + std::to_string(getpid());
  const std::string in = dir + "-in.txt", err = dir + "-err.txt";
  std::ofstream(in) << script;
  const std::string command = std::string(GLOMPER_TRACE) + " " + args + " < " + in + " 2> " + err;
  TraceRun run{};
  FILE* out = popen(command.c_str(), "r");
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, out) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    run.lines.push_back(line);
  }
  const int raw = pclose(out);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::stringstream errors;
  errors << std::ifstream(err).rdbuf();
  run.errors = errors.str();
  return run;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
  if (!line.empty() && line.back() == ',') fields.push_back("");
  return fields;
}

TEST(TraceToolTest, PrintsTheBoardThenOneLinePerTickOfTheScript) {
  std::string script = "1000 124\n";
  for (int i = 0; i < 30; ++i) script += "-\n";
  const TraceRun run = Trace("1024 768", script);
  ASSERT_EQ(run.status, 0) << run.errors;
  ASSERT_EQ(run.lines.size(), 32u);
  EXPECT_EQ(run.lines[0], "# Columns=32 Rows=24 BlockCount=768 blocks_created=769");
  const auto tick30 = Fields(run.lines[30]);
  const auto tick31 = Fields(run.lines[31]);
  ASSERT_EQ(tick31.size(), 15u);
  EXPECT_EQ(tick30[0], "30");
  EXPECT_EQ(tick30[1], "1000");
  EXPECT_EQ(tick30[5], "5.99999857");
  EXPECT_EQ(tick31[5], "6.19999838");
  EXPECT_EQ(tick31[14], "") << "no event";
}

TEST(TraceToolTest, WithTicksThePointerStaysWhereTheScriptLeftIt) {
  const TraceRun run = Trace("800 600 --ticks 5", "300 200\n");
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 6u);
  EXPECT_EQ(Fields(run.lines[5])[0], "5");
  EXPECT_EQ(Fields(run.lines[5])[2], "200");
}

class TraceToolBadInputTest : public ::testing::TestWithParam<std::pair<std::string, std::string>> {
};

TEST_P(TraceToolBadInputTest, GetsOneClearErrorLineAndStatusTwo) {
  const TraceRun run = Trace(GetParam().first, GetParam().second);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
  EXPECT_EQ(run.errors.rfind("glomper-trace: ", 0), 0u) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, TraceToolBadInputTest,
    ::testing::Values(std::pair<std::string, std::string>{"1024 768", "100 x\n"},
                      std::pair<std::string, std::string>{"1024 768", "12\n"},
                      std::pair<std::string, std::string>{"1024 768", "- 5\n"},
                      std::pair<std::string, std::string>{"-1024 768", ""},
                      std::pair<std::string, std::string>{"1024", ""},
                      std::pair<std::string, std::string>{"1024 768 --ticks zero", ""},
                      // A board past 32767 cells, refused before any screen is allocated.
                      std::pair<std::string, std::string>{"32767 32767", ""},
                      std::pair<std::string, std::string>{"7681 4700", ""}));

}  // namespace
