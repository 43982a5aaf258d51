#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/box/box_protocol.h"

namespace platform {

enum class BoxResult : std::uint8_t { kDismissed, kUnavailable, kInterrupted };

// The role the game's binary plays when the host starts it to show a box (its argv[0]).
bool IsBoxRole(std::string_view argv0);

// What the game keeps doing while one of its boxes is open: nothing of the game runs, but its
// window keeps answering the window system.
struct BoxWatch {
  const volatile std::sig_atomic_t& quit;  // set by SIGINT or SIGTERM: the box goes at once
  std::vector<int> fds;                    // the window system's connections
  // Called when one of them has something to say (`spoke`), and at least ten times a second.
  // May end the program (System::End); the box goes with it.
  std::function<void(bool spoke)> pump;
};

// Shows message boxes in a process of their own, so that no toolkit's memory stays in the
// game's. The process is a fresh start of a program (the game's own binary, in its box role),
// not merely a fork of the game: a fork would inherit every lock that a thread of SDL, Xlib
// or the GL driver held at that moment, and the toolkit would hang on the first of them.
// Between fork and exec the child only makes system calls. The box dies with the game.
class BoxHost {
 public:
  // The game's own program, opened now: a package upgrade that replaces the file while the
  // game runs does not change which box program starts.
  static BoxHost OfThisProgram();
  // `program` is an open file descriptor of the program to run (taken over), `role` its
  // argv[0], by which the program knows it is to show a box.
  BoxHost(int program, std::string role);
  ~BoxHost();
  BoxHost(BoxHost&& other) noexcept;
  BoxHost& operator=(BoxHost&&) = delete;
  BoxHost(const BoxHost&) = delete;
  BoxHost& operator=(const BoxHost&) = delete;

  // Shows one box and waits until the player dismisses it (kDismissed, with `answer`), its
  // process ends without an answer (kUnavailable) or `watch.quit` is set (kInterrupted).
  BoxResult Show(const BoxRequest& request, const BoxWatch& watch, BoxAnswer& answer);

 private:
  int program_;
  std::string role_;
};

}  // namespace platform
