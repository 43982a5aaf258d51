#include "platform/box/box_protocol.h"

#include <charconv>
#include <cstddef>

namespace platform {

namespace {

// A version of the game only understands its own boxes: a box program replaced by an upgrade
// while the game runs refuses the request rather than misread it.
constexpr std::string_view kRequestHeader = "glomper-box-request 1\n";
constexpr std::string_view kAnswerHeader = "glomper-box-answer 1\n";
constexpr std::size_t kLongestField = 1 << 16;

// Each field: its name, a space, its length in bytes, a line feed, the bytes, a line feed.
void Put(std::string& out, std::string_view name, std::string_view value) {
  out.append(name).append(" ").append(std::to_string(value.size())).append("\n");
  out.append(value).append("\n");
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  bool Header(std::string_view header) { return Skip(header); }
  // The next field, if it has this name.
  std::optional<std::string_view> Field(std::string_view name) {
    std::string_view save = rest_;
    if (!Skip(name) || !Skip(" ")) return Fail(save);
    const std::size_t end = rest_.find('\n');
    if (end == std::string_view::npos || end == 0) return Fail(save);
    std::size_t length = 0;
    const auto [ptr, error] = std::from_chars(rest_.data(), rest_.data() + end, length);
    if (error != std::errc() || ptr != rest_.data() + end || length > kLongestField) {
      return Fail(save);
    }
    rest_.remove_prefix(end + 1);
    if (rest_.size() < length + 1 || rest_[length] != '\n') return Fail(save);
    const std::string_view value = rest_.substr(0, length);
    rest_.remove_prefix(length + 1);
    return value;
  }
  std::optional<std::uint64_t> Number(std::string_view name, std::uint64_t most) {
    const auto text = Field(name);
    std::uint64_t value = 0;
    if (!text || text->empty()) return std::nullopt;
    const auto [ptr, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || ptr != text->data() + text->size() || value > most) {
      return std::nullopt;
    }
    return value;
  }
  bool AtEnd() const { return rest_.empty(); }

 private:
  bool Skip(std::string_view expected) {
    if (!rest_.starts_with(expected)) return false;
    rest_.remove_prefix(expected.size());
    return true;
  }
  std::nullopt_t Fail(std::string_view save) {
    rest_ = save;
    return std::nullopt;
  }
  std::string_view rest_;
};

constexpr std::string_view kToolkits[] = {"gtk", "xlib"};
constexpr std::string_view kWindowSystems[] = {"other", "x11", "wayland"};

template <typename Enum, std::size_t N>
std::optional<Enum> Named(std::optional<std::string_view> text,
                          const std::string_view (&names)[N]) {
  for (std::size_t i = 0; text && i < N; ++i) {
    if (*text == names[i]) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

}  // namespace

std::string Encode(const BoxRequest& r) {
  std::string out(kRequestHeader);
  Put(out, "toolkit", kToolkits[static_cast<std::size_t>(r.toolkit)]);
  Put(out, "title", r.title);
  Put(out, "text", r.text);
  Put(out, "icon", r.icon == MessageIcon::kCritical ? "critical" : "information");
  Put(out, "window-system", kWindowSystems[static_cast<std::size_t>(r.window_system)]);
  Put(out, "x11-parent", std::to_string(r.x11_parent));
  Put(out, "wayland-parent", r.wayland_parent);
  Put(out, "startup-id", r.startup_id);
  Put(out, "activation-token", r.activation_token);
  if (r.session_bus) Put(out, "session-bus", *r.session_bus);
  Put(out, "take-keyboard", r.take_keyboard ? "1" : "0");
  return out;
}

std::optional<BoxRequest> DecodeRequest(std::string_view bytes) {
  Reader in(bytes);
  if (!in.Header(kRequestHeader)) return std::nullopt;
  BoxRequest r;
  const auto toolkit = Named<Toolkit>(in.Field("toolkit"), kToolkits);
  const auto title = in.Field("title");
  const auto text = in.Field("text");
  const auto icon = in.Field("icon");
  const auto window_system = Named<WindowSystem>(in.Field("window-system"), kWindowSystems);
  const auto x11_parent = in.Number("x11-parent", 0xFFFFFFFFu);
  const auto wayland_parent = in.Field("wayland-parent");
  const auto startup_id = in.Field("startup-id");
  const auto activation_token = in.Field("activation-token");
  const auto session_bus = in.Field("session-bus");  // absent where the player has none
  const auto take_keyboard = in.Number("take-keyboard", 1);
  if (!toolkit || !title || !text || !icon || (*icon != "critical" && *icon != "information") ||
      !window_system || !x11_parent || !wayland_parent || !startup_id || !activation_token ||
      !take_keyboard || !in.AtEnd()) {
    return std::nullopt;
  }
  r.toolkit = *toolkit;
  r.title = *title;
  r.text = *text;
  r.icon = *icon == "critical" ? MessageIcon::kCritical : MessageIcon::kInformation;
  r.window_system = *window_system;
  r.x11_parent = *x11_parent;
  r.wayland_parent = *wayland_parent;
  r.startup_id = *startup_id;
  r.activation_token = *activation_token;
  if (session_bus) r.session_bus = std::string(*session_bus);
  r.take_keyboard = *take_keyboard == 1;
  return r;
}

std::string Encode(const BoxAnswer& a) {
  std::string out(kAnswerHeader);
  Put(out, "dismissed-at", std::to_string(a.user_time));
  return out;
}

std::optional<BoxAnswer> DecodeAnswer(std::string_view bytes) {
  Reader in(bytes);
  if (!in.Header(kAnswerHeader)) return std::nullopt;
  const auto time = in.Number("dismissed-at", 0xFFFFFFFFu);
  if (!time || !in.AtEnd()) return std::nullopt;
  return BoxAnswer{static_cast<std::uint32_t>(*time)};
}

}  // namespace platform
