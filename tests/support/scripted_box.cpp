#include "tests/support/scripted_box.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/box/box_protocol.h"

namespace glomper::testing {

namespace {

std::string ReadAll() {
  std::string bytes;
  char buffer[4096];
  ssize_t got;
  while ((got = read(STDIN_FILENO, buffer, sizeof buffer)) > 0) {
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

// The descriptors the box was started with, besides /proc's own listing.
int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != dirfd(dir)) ++count;
  }
  closedir(dir);
  return count;
}

void Answer(std::uint32_t time) {
  const std::string answer = platform::Encode(platform::BoxAnswer{time});
  if (write(STDOUT_FILENO, answer.data(), answer.size()) < 0) std::exit(4);
}

}  // namespace

std::mutex& LibraryLock() {
  static std::mutex lock;
  return lock;
}

int RunScriptedBox() {
  const auto request = platform::DecodeRequest(ReadAll());
  if (!request) return 3;
  const std::string& what = request->title;
  if (what == "answer") {
    const std::lock_guard<std::mutex> hold(LibraryLock());
    Answer(static_cast<std::uint32_t>(request->text.size()));
  } else if (what == "descriptors") {
    Answer(static_cast<std::uint32_t>(OpenDescriptors()));
  } else if (what == "crash") {
    std::abort();
  } else if (what == "wait") {
    for (;;) pause();
  } else if (what == "garbage") {
    if (write(STDOUT_FILENO, "dismissed", 9) < 0) return 4;
  }
  return 3;  // "silent", and anything else: no box shown
}

}  // namespace glomper::testing
