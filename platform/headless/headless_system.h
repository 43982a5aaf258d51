#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace platform {

class ManualClock : public Clock {
 public:
  Nanoseconds Now() const override { return now_; }
  void Set(Nanoseconds now) { now_ = now; }

 private:
  Nanoseconds now_ = 0;
};

struct RecordedMessage {
  std::string title;
  std::string text;
  MessageIcon icon;
  Nanoseconds at;
};

class HeadlessSystem;

// The game window on a screen that exists only in memory.
class HeadlessWindow : public Window {
 public:
  HeadlessWindow(HeadlessSystem& system, const WindowSpec& spec);
  ~HeadlessWindow() override;

  double Width() const override { return width_px_ * double{kTwipsPerPixel}; }
  double Height() const override { return height_px_ * double{kTwipsPerPixel}; }
  int State() const override { return covers_screen_ ? kStateMaximised : kStateNormal; }
  void Show() override;

  bool Shown() const { return shown_; }
  int WidthPx() const { return width_px_; }
  int HeightPx() const { return height_px_; }
  // The window manager resizes the window; it covers the screen only when it matches it.
  // Reaches the game as the window system's resize event; call it through Dispatch.
  void SetSize(int width_px, int height_px, bool covers_screen);

  // The composed picture as the player would see it.
  std::uint32_t Pixel(int x, int y) const;
  // Rectangles pushed to the screen by the last present, and counts over the whole run.
  const std::vector<PixelRect>& LastPush() const { return last_push_; }
  long PushCount() const { return push_count_; }
  long PushedPixels() const { return pushed_pixels_; }
  // Composes what changed and "pushes" it, as a real screen would after a tick.
  void Present();

 private:
  HeadlessSystem& system_;
  int width_px_;
  int height_px_;
  bool shown_ = false;
  bool covers_screen_ = false;
  std::vector<std::uint32_t> frame_;
  std::vector<PixelRect> last_push_;
  long push_count_ = 0;
  long pushed_pixels_ = 0;
};

// Window-system services for tests: a manual clock, scripted pointer and keys, message boxes
// recorded and answered at once, the window's size chosen by the test, drawing into memory.
class HeadlessSystem : public System {
 public:
  HeadlessSystem(int screen_width_px, int screen_height_px);

  std::unique_ptr<Window> CreateWindow(const WindowSpec& spec) override;
  void MessageBox(std::string_view text, MessageIcon icon, std::string_view title) override;
  PictureRef LoadPicture(std::span<const std::uint8_t> gif) override;

  // -- What a test does --
  // Whether a window that is shown is made to cover the screen (a cooperative window manager).
  void SetWindowManagerMaximises(bool maximises) { maximises_ = maximises; }
  // Moves the clock on, firing every timer tick due on the way and presenting after each.
  // Returns false once the program has ended.
  bool Advance(Nanoseconds duration);
  bool AdvanceMs(long ms) { return Advance(ms * kNsPerMs); }
  // Runs until the next timer tick has fired (and been presented); false if none is due
  // or the program has ended.
  bool Step();
  void MovePointer(float x, float y, int button = 0, int shift = 0);
  void PressKey(int key_code, int shift = 0);
  // Runs any call into the game the way the event loop would, catching the program's end.
  bool RunAsEvent(const std::function<void()>& call);

  bool Ended() const { return ended_; }
  int ExitStatus() const { return exit_status_; }
  Nanoseconds Now() const { return clock_.Now(); }
  const std::vector<RecordedMessage>& Messages() const { return messages_; }
  // Called while a message box is "open", before it is answered.
  std::function<void(const RecordedMessage&)> on_message;
  HeadlessWindow* GameWindow() const { return window_; }
  int ScreenWidthPx() const { return screen_w_; }
  int ScreenHeightPx() const { return screen_h_; }

 private:
  friend class HeadlessWindow;

  ManualClock clock_;
  int screen_w_;
  int screen_h_;
  bool maximises_ = true;
  HeadlessWindow* window_ = nullptr;
  std::vector<RecordedMessage> messages_;
  bool ended_ = false;
  int exit_status_ = 0;
};

}  // namespace platform
