#include "platform/headless/headless_system.h"

#include <stdexcept>

#include "platform/gif_decoder.h"

namespace platform {

HeadlessWindow::HeadlessWindow(HeadlessSystem& system, const WindowSpec& spec)
    : system_(system), width_px_(spec.client_width_px), height_px_(spec.client_height_px) {}

HeadlessWindow::~HeadlessWindow() {
  if (system_.window_ == this) system_.window_ = nullptr;
}

void HeadlessWindow::Show() {
  shown_ = true;
  if (system_.maximises_) SetSize(system_.screen_w_, system_.screen_h_, true);
  Present();
}

void HeadlessWindow::SetSize(int width_px, int height_px, bool covers_screen) {
  const bool resized = width_px != width_px_ || height_px != height_px_;
  width_px_ = width_px;
  height_px_ = height_px;
  covers_screen_ = covers_screen;
  if (resized && on_resize) on_resize();
}

std::uint32_t HeadlessWindow::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_px_ || y >= height_px_ || frame_.empty()) {
    throw std::out_of_range("pixel outside the window");
  }
  return frame_[static_cast<std::size_t>(y) * width_px_ + x] & 0xFFFFFFu;
}

void HeadlessWindow::Present() {
  last_push_.clear();
  if (!shown_) return;
  const std::size_t size = static_cast<std::size_t>(width_px_) * height_px_;
  const bool resized = frame_.size() != size;
  if (resized) frame_.assign(size, 0);
  if (!resized && !scene_.NeedsCompose()) return;
  Canvas canvas{frame_.data(), width_px_, height_px_, width_px_};
  last_push_ = scene_.Compose(canvas);
  if (last_push_.empty()) return;
  ++push_count_;
  for (const PixelRect& r : last_push_) pushed_pixels_ += r.Area();
}

HeadlessSystem::HeadlessSystem(int screen_width_px, int screen_height_px)
    : System(clock_), screen_w_(screen_width_px), screen_h_(screen_height_px) {}

std::unique_ptr<Window> HeadlessSystem::CreateWindow(const WindowSpec& spec) {
  auto window = std::make_unique<HeadlessWindow>(*this, spec);
  window_ = window.get();
  return window;
}

void HeadlessSystem::MessageBox(std::string_view text, MessageIcon icon, std::string_view title) {
  if (window_ != nullptr) window_->Present();
  messages_.push_back({std::string(title), std::string(text), icon, clock_.Now()});
  if (on_message) on_message(messages_.back());
}

PictureRef HeadlessSystem::LoadPicture(std::span<const std::uint8_t> gif) { return DecodeGif(gif); }

bool HeadlessSystem::RunAsEvent(const std::function<void()>& call) {
  if (ended_) return false;
  try {
    call();
  } catch (const ProgramEnd& end) {
    ended_ = true;
    exit_status_ = end.status;
  }
  if (!ended_ && window_ != nullptr) window_->Present();
  return !ended_;
}

bool HeadlessSystem::Step() {
  const Nanoseconds due = timers_.NextDue();
  if (ended_ || due == kNever) return false;
  if (due > clock_.Now()) clock_.Set(due);
  return RunAsEvent([this] { timers_.FireOneDue(clock_.Now()); });
}

bool HeadlessSystem::Advance(Nanoseconds duration) {
  const Nanoseconds until = clock_.Now() + duration;
  while (!ended_ && timers_.NextDue() <= until) Step();
  if (!ended_) clock_.Set(until);
  return !ended_;
}

void HeadlessSystem::MovePointer(float x, float y, int button, int shift) {
  RunAsEvent([&] {
    if (window_ != nullptr && window_->Shown() && window_->on_mouse_move) {
      window_->on_mouse_move(button, shift, x, y);
    }
  });
}

void HeadlessSystem::PressKey(int key_code, int shift) {
  RunAsEvent([&] {
    if (window_ != nullptr && window_->Shown() && window_->on_key_down) {
      window_->on_key_down(key_code, shift);
    }
  });
}

}  // namespace platform
