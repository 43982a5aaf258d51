#include "platform/box/xlib_box.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "platform/x11/x11_client.h"

namespace platform {

namespace {

constexpr int kMargin = 16, kIconSide = 48, kButtonW = 88, kButtonH = 28;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

unsigned long Colour(Display* d, Colormap map, std::uint32_t rgb) {
  XColor c{};
  c.red = static_cast<unsigned short>(((rgb >> 16) & 0xFF) * 257);
  c.green = static_cast<unsigned short>(((rgb >> 8) & 0xFF) * 257);
  c.blue = static_cast<unsigned short>((rgb & 0xFF) * 257);
  c.flags = DoRed | DoGreen | DoBlue;
  return XAllocColor(d, map, &c) ? c.pixel : BlackPixel(d, DefaultScreen(d));
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

// The launcher's startup notification ID (freedesktop): its "_TIME" suffix is when the player
// asked for the game.
unsigned long StartupTime(const std::string& id) {
  const std::size_t at = id.rfind("_TIME");
  if (at == std::string::npos) return 0;
  char* end = nullptr;
  const unsigned long time = std::strtoul(id.c_str() + at + 5, &end, 10);
  return end != nullptr && *end == '\0' ? time : 0;
}

// Tells the launcher the game has shown its first window: a message to the root window in
// pieces of 20 bytes, the last ending with a NUL.
void EndStartup(Display* d, ::Window from, const std::string& id) {
  std::string message = "remove: ID=\"";
  for (char c : id) {
    if (c == '"' || c == '\\') message += '\\';
    message += c;
  }
  message += '"';
  message += '\0';
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = from;
  e.xclient.format = 8;
  for (std::size_t at = 0; at < message.size(); at += 20) {
    e.xclient.message_type =
        XInternAtom(d, at == 0 ? "_NET_STARTUP_INFO_BEGIN" : "_NET_STARTUP_INFO", False);
    std::fill(std::begin(e.xclient.data.b), std::end(e.xclient.data.b), '\0');
    message.copy(e.xclient.data.b, 20, at);
    XSendEvent(d, DefaultRootWindow(d), False, PropertyChangeMask, &e);
  }
  XFlush(d);
}

class Dialog {
 public:
  Dialog(Display* d, XFontStruct* font, const BoxRequest& request,
         std::span<const std::uint8_t> icon_rgba)
      : d_(d),
        font_(font),
        lines_(Lines(request.text)),
        icon_rgba_(icon_rgba),
        startup_id_(request.startup_id),
        take_keyboard_(request.take_keyboard) {
    const auto parent = static_cast<::Window>(request.x11_parent);
    const std::string& title = request.title;
    const int screen = DefaultScreen(d);
    const Colormap map = DefaultColormap(d, screen);
    background_ = Colour(d, map, 0xEDEDED);
    ink_ = Colour(d, map, 0x000000);
    button_ = Colour(d, map, 0xFFFFFF);
    edge_ = Colour(d, map, 0x8C8C8C);
    line_h_ = font->ascent + font->descent + 2;
    int text_w = 0;
    for (const std::string& line : lines_) {
      text_w = std::max(text_w, XTextWidth(font, line.c_str(), static_cast<int>(line.size())));
    }
    const int text_h = line_h_ * static_cast<int>(lines_.size());
    width_ = std::max(3 * kMargin + kIconSide + text_w, 2 * kMargin + kButtonW);
    height_ = 3 * kMargin + std::max(kIconSide, text_h) + kButtonH;
    text_y_ = kMargin + std::max(0, (kIconSide - text_h) / 2);
    button_x_ = width_ - kMargin - kButtonW;
    button_y_ = height_ - kMargin - kButtonH;

    const ::Window root = RootWindow(d, screen);
    // Over the game's window, else over the whole screen.
    int over_x = 0, over_y = 0, over_w = DisplayWidth(d, screen), over_h = DisplayHeight(d, screen);
    XWindowAttributes game{};
    ::Window child;
    if (parent != 0 && XGetWindowAttributes(d, parent, &game) &&
        XTranslateCoordinates(d, parent, root, 0, 0, &over_x, &over_y, &child)) {
      over_w = game.width;
      over_h = game.height;
    }
    const int x = over_x + (over_w - width_) / 2;
    const int y = over_y + (over_h - height_) / 2;
    XSetWindowAttributes attributes{};
    attributes.background_pixel = background_;
    attributes.event_mask =
        ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
    window_ = XCreateWindow(d, root, x, y, static_cast<unsigned>(width_),
                            static_cast<unsigned>(height_), 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWBackPixel | CWEventMask, &attributes);
    XStoreName(d, window_, title.c_str());
    x11::SetText(d, window_, "_NET_WM_NAME", title);
    XClassHint class_hint{const_cast<char*>("glomper"), const_cast<char*>("Glomper")};
    XSetClassHint(d, window_, &class_hint);
    XSizeHints size{};
    size.flags = PPosition | PMinSize | PMaxSize;
    size.x = x;
    size.y = y;
    size.min_width = size.max_width = width_;
    size.min_height = size.max_height = height_;
    XSetWMNormalHints(d, window_, &size);
    XWMHints wm{};
    wm.flags = InputHint | StateHint;
    wm.input = True;
    wm.initial_state = NormalState;
    XSetWMHints(d, window_, &wm);
    // A box of the game's window: window managers that hide other windows behind a
    // full-screen one (i3) show its own dialogs above it, with the keyboard.
    if (parent != 0) XSetTransientForHint(d, window_, parent);
    if (!startup_id_.empty()) {
      x11::SetText(d, window_, "_NET_STARTUP_ID", startup_id_);
      // When the player launched the game: later than any input a window manager compares.
      if (const long time = static_cast<long>(StartupTime(startup_id_)); time != 0) {
        x11::SetCardinal(d, window_, "_NET_WM_USER_TIME", time);
      }
    }
    x11::SetAtoms(d, window_, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DIALOG"});
    x11::SetAtoms(d, window_, "_NET_WM_STATE", {"_NET_WM_STATE_ABOVE"});
    x11::SetCardinal(d, window_, "_NET_WM_PID", getpid());
    delete_ = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d, window_, &delete_, 1);
    gc_ = XCreateGC(d, window_, 0, nullptr);
    XSetFont(d, gc_, font->fid);
    MakeIcon();
    XMapRaised(d, window_);
  }

  ~Dialog() {
    if (icon_ != nullptr) XDestroyImage(icon_);
    XFreeGC(d_, gc_);
    XDestroyWindow(d_, window_);
    XFlush(d_);
  }

  // Handles events until the box is dismissed; returns the time of the event that did it.
  std::optional<std::uint32_t> Run() {
    bool pressed = false;
    for (;;) {
      XEvent e;
      XNextEvent(d_, &e);
      switch (e.type) {
        case MapNotify:
          // Without a window manager nobody gives a new window the keyboard.
          if (take_keyboard_) XSetInputFocus(d_, window_, RevertToPointerRoot, CurrentTime);
          if (!startup_id_.empty()) EndStartup(d_, window_, startup_id_);
          break;
        case Expose:
          if (e.xexpose.count == 0) Draw();
          break;
        case KeyPress: {
          const KeySym key = XLookupKeysym(&e.xkey, 0);
          if (key == XK_Return || key == XK_KP_Enter || key == XK_Escape || key == XK_space) {
            return static_cast<std::uint32_t>(e.xkey.time);
          }
          break;
        }
        case ButtonPress:
          pressed = e.xbutton.button == Button1 && OnButton(e.xbutton.x, e.xbutton.y);
          break;
        case ButtonRelease:
          if (pressed && OnButton(e.xbutton.x, e.xbutton.y)) {
            return static_cast<std::uint32_t>(e.xbutton.time);
          }
          pressed = false;
          break;
        case ClientMessage:
          if (static_cast<Atom>(e.xclient.data.l[0]) == delete_) {
            return static_cast<std::uint32_t>(e.xclient.data.l[1]);
          }
          break;
        default:
          break;
      }
    }
  }

 private:
  bool OnButton(int x, int y) const {
    return x >= button_x_ && x < button_x_ + kButtonW && y >= button_y_ && y < button_y_ + kButtonH;
  }

  // The art over the box's grey, where the screen takes 24-bit pixels as they are.
  void MakeIcon() {
    Visual* visual = DefaultVisual(d_, DefaultScreen(d_));
    if (icon_rgba_.size() != std::size_t{kIconSide} * kIconSide * 4 ||
        visual->c_class != TrueColor || DefaultDepth(d_, DefaultScreen(d_)) < 24 ||
        visual->red_mask != 0xFF0000 || visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF) {
      return;
    }
    char* pixels = static_cast<char*>(std::malloc(std::size_t{kIconSide} * kIconSide * 4));
    icon_ = XCreateImage(d_, visual, static_cast<unsigned>(DefaultDepth(d_, DefaultScreen(d_))),
                         ZPixmap, 0, pixels, kIconSide, kIconSide, 32, 0);
    if (icon_ == nullptr) {
      std::free(pixels);
      return;
    }
    for (int y = 0; y < kIconSide; ++y) {
      for (int x = 0; x < kIconSide; ++x) {
        const std::uint8_t* p = &icon_rgba_[(static_cast<std::size_t>(y) * kIconSide + x) * 4];
        auto over = [&](int channel, int grey) {
          return (p[channel] * p[3] + grey * (255 - p[3])) / 255;
        };
        const unsigned long pixel = static_cast<unsigned long>(over(0, 0xED)) << 16 |
                                    static_cast<unsigned long>(over(1, 0xED)) << 8 |
                                    static_cast<unsigned long>(over(2, 0xED));
        XPutPixel(icon_, x, y, pixel);
      }
    }
  }

  void Draw() {
    if (icon_ != nullptr) {
      XPutImage(d_, window_, gc_, icon_, 0, 0, kMargin, kMargin, kIconSide, kIconSide);
    }
    XSetForeground(d_, gc_, ink_);
    const int text_x = 2 * kMargin + kIconSide;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      XDrawString(d_, window_, gc_, text_x, text_y_ + static_cast<int>(i) * line_h_ + font_->ascent,
                  lines_[i].c_str(), static_cast<int>(lines_[i].size()));
    }
    XSetForeground(d_, gc_, button_);
    XFillRectangle(d_, window_, gc_, button_x_, button_y_, kButtonW, kButtonH);
    XSetForeground(d_, gc_, edge_);
    XDrawRectangle(d_, window_, gc_, button_x_, button_y_, kButtonW - 1, kButtonH - 1);
    XSetForeground(d_, gc_, ink_);
    const int label_w = XTextWidth(font_, "OK", 2);
    XDrawString(d_, window_, gc_, button_x_ + (kButtonW - label_w) / 2,
                button_y_ + (kButtonH + font_->ascent - font_->descent) / 2, "OK", 2);
    XFlush(d_);
  }

  Display* d_;
  XFontStruct* font_;
  std::vector<std::string> lines_;
  std::span<const std::uint8_t> icon_rgba_;
  std::string startup_id_;  // the launcher's, for the first box only
  bool take_keyboard_;
  unsigned long background_ = 0, ink_ = 0, button_ = 0, edge_ = 0;
  int line_h_ = 0, width_ = 0, height_ = 0, text_y_ = 0, button_x_ = 0, button_y_ = 0;
  ::Window window_ = 0;
  GC gc_ = nullptr;
  Atom delete_ = 0;
  XImage* icon_ = nullptr;
};

}  // namespace

std::optional<std::uint32_t> ShowXlibBox(const BoxRequest& request, const DialogArt& art) {
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return std::nullopt;
  XSetErrorHandler(IgnoreErrors);  // a request the window manager raced is no reason to stop
  XFontStruct* font = nullptr;
  for (const char* name : {"-misc-fixed-medium-r-normal--13-*-*-*-*-*-iso8859-1", "fixed", "*"}) {
    if ((font = XLoadQueryFont(d, name)) != nullptr) break;
  }
  if (font == nullptr) {
    XCloseDisplay(d);
    return std::nullopt;
  }
  std::optional<std::uint32_t> time;
  {
    Dialog box(d, font, request,
               request.icon == MessageIcon::kCritical ? art.critical_rgba : art.information_rgba);
    time = box.Run();
  }
  XFreeFont(d, font);
  XCloseDisplay(d);
  return time;
}

}  // namespace platform
