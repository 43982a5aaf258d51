#include "platform/box/gtk_box.h"

#include <X11/Xlib.h>
#include <dlfcn.h>
#include <gtk/gtk.h>

#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace platform {

namespace {

constexpr int kIconSide = 48;

// GTK is never linked: only the dialog process loads it.
struct Gtk {
  decltype(&gtk_init_check) init_check;
  decltype(&gtk_dialog_new) dialog_new;
  decltype(&gtk_window_set_title) set_title;
  decltype(&gtk_window_set_resizable) set_resizable;
  decltype(&gtk_window_set_position) set_position;
  decltype(&gtk_window_set_keep_above) set_keep_above;
  decltype(&gtk_window_set_icon) set_icon;
  decltype(&gtk_dialog_add_button) add_button;
  decltype(&gtk_dialog_set_default_response) set_default_response;
  decltype(&gtk_dialog_get_content_area) content_area;
  decltype(&gtk_box_new) box_new;
  decltype(&gtk_box_pack_start) pack_start;
  decltype(&gtk_container_set_border_width) set_border_width;
  decltype(&gtk_label_new) label_new;
  decltype(&gtk_image_new_from_pixbuf) image_new;
  decltype(&gdk_pixbuf_new_from_data) pixbuf_new;
  decltype(&gtk_widget_show_all) show_all;
  decltype(&gtk_widget_grab_focus) grab_focus;
  decltype(&gtk_dialog_run) run;
  decltype(&gtk_get_current_event_time) current_event_time;
  decltype(&gtk_widget_realize) realize;
  decltype(&gtk_widget_get_window) get_window;
  decltype(&gdk_display_get_default) default_display;
  decltype(&gdk_window_set_transient_for) set_transient_for;
  // Of one window system each, so not always there.
  GdkWindow* (*x11_foreign_window)(GdkDisplay*, unsigned long) = nullptr;
  Display* (*x11_xdisplay)(GdkDisplay*) = nullptr;
  unsigned long (*x11_xid)(GdkWindow*) = nullptr;
  gboolean (*wayland_set_transient_for_exported)(GdkWindow*, char*) = nullptr;

  bool Load() {
    void* lib = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return false;
    bool ok = true;
    auto get = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
      ok = ok && fn != nullptr;
    };
    get(init_check, "gtk_init_check");
    get(dialog_new, "gtk_dialog_new");
    get(set_title, "gtk_window_set_title");
    get(set_resizable, "gtk_window_set_resizable");
    get(set_position, "gtk_window_set_position");
    get(set_keep_above, "gtk_window_set_keep_above");
    get(set_icon, "gtk_window_set_icon");
    get(add_button, "gtk_dialog_add_button");
    get(set_default_response, "gtk_dialog_set_default_response");
    get(content_area, "gtk_dialog_get_content_area");
    get(box_new, "gtk_box_new");
    get(pack_start, "gtk_box_pack_start");
    get(set_border_width, "gtk_container_set_border_width");
    get(label_new, "gtk_label_new");
    get(image_new, "gtk_image_new_from_pixbuf");
    get(pixbuf_new, "gdk_pixbuf_new_from_data");
    get(show_all, "gtk_widget_show_all");
    get(grab_focus, "gtk_widget_grab_focus");
    get(run, "gtk_dialog_run");
    get(current_event_time, "gtk_get_current_event_time");
    get(realize, "gtk_widget_realize");
    get(get_window, "gtk_widget_get_window");
    get(default_display, "gdk_display_get_default");
    get(set_transient_for, "gdk_window_set_transient_for");
    x11_foreign_window = reinterpret_cast<decltype(x11_foreign_window)>(
        dlsym(lib, "gdk_x11_window_foreign_new_for_display"));
    x11_xdisplay =
        reinterpret_cast<decltype(x11_xdisplay)>(dlsym(lib, "gdk_x11_display_get_xdisplay"));
    x11_xid = reinterpret_cast<decltype(x11_xid)>(dlsym(lib, "gdk_x11_window_get_xid"));
    wayland_set_transient_for_exported =
        reinterpret_cast<decltype(wayland_set_transient_for_exported)>(
            dlsym(lib, "gdk_wayland_window_set_transient_for_exported"));
    return ok;
  }
};

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

// RGB rows, top first, from an uncompressed 24-bit BMP; empty if it is not one.
std::vector<std::uint8_t> BmpToRgb(std::span<const std::uint8_t> bmp, int& side) {
  if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M' || bmp[28] != 24) return {};
  const std::uint32_t offset = Le32(bmp, 10);
  const int width = static_cast<int>(Le32(bmp, 18));
  const int height = static_cast<int>(Le32(bmp, 22));
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  if (width <= 0 || height != width || offset + stride * height > bmp.size()) return {};
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = bmp.data() + offset + stride * (height - 1 - y);
    for (int x = 0; x < width; ++x) {
      std::uint8_t* dst = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      dst[0] = src[x * 3 + 2];
      dst[1] = src[x * 3 + 1];
      dst[2] = src[x * 3];
    }
  }
  side = width;
  return rgb;
}

// Makes the box a dialog of the game's window, before it is shown: window managers and
// compositors that hide other windows behind a full-screen one (i3, sway) show its own
// dialogs above it, with the keyboard.
void BelongTo(const Gtk& gtk, GtkWidget* dialog, const BoxRequest& request) {
  gtk.realize(dialog);
  GdkWindow* box = gtk.get_window(dialog);
  if (box == nullptr) return;
  if (request.window_system == WindowSystem::kX11 && request.x11_parent != 0 &&
      gtk.x11_foreign_window != nullptr) {
    GdkWindow* game = gtk.x11_foreign_window(gtk.default_display(), request.x11_parent);
    if (game != nullptr) gtk.set_transient_for(box, game);
  } else if (request.window_system == WindowSystem::kWayland && !request.wayland_parent.empty() &&
             gtk.wayland_set_transient_for_exported != nullptr) {
    std::string handle = request.wayland_parent;
    gtk.wayland_set_transient_for_exported(box, handle.data());
  }
}

// Without a window manager nobody gives a new window the keyboard: the box takes it.
void TakeKeyboard(const Gtk& gtk, GtkWidget* dialog) {
  GdkWindow* box = gtk.get_window(dialog);
  if (gtk.x11_xdisplay == nullptr || gtk.x11_xid == nullptr || box == nullptr) return;
  Display* display = gtk.x11_xdisplay(gtk.default_display());
  XSetInputFocus(display, gtk.x11_xid(box), RevertToPointerRoot, CurrentTime);
  XFlush(display);
}

}  // namespace

std::optional<std::uint32_t> ShowGtkBox(const BoxRequest& request, const DialogArt& art) {
  Gtk gtk{};
  int argc = 0;
  char** argv = nullptr;
  if (!gtk.Load() || !gtk.init_check(&argc, &argv)) return std::nullopt;

  GtkWidget* dialog = gtk.dialog_new();
  auto* window = reinterpret_cast<GtkWindow*>(dialog);
  gtk.set_title(window, request.title.c_str());
  gtk.set_resizable(window, FALSE);
  gtk.set_position(window, GTK_WIN_POS_CENTER);
  gtk.set_keep_above(window, TRUE);
  int side = 0;
  std::vector<std::uint8_t> icon_rgb = BmpToRgb(art.window_icon_bmp, side);
  if (!icon_rgb.empty()) {
    gtk.set_icon(window, gtk.pixbuf_new(icon_rgb.data(), GDK_COLORSPACE_RGB, FALSE, 8, side, side,
                                        side * 3, nullptr, nullptr));
  }

  GtkWidget* row = gtk.box_new(GTK_ORIENTATION_HORIZONTAL, 16);
  gtk.set_border_width(reinterpret_cast<GtkContainer*>(row), 16);
  const std::span<const std::uint8_t> art_rgba =
      request.icon == MessageIcon::kCritical ? art.critical_rgba : art.information_rgba;
  if (art_rgba.size() == std::size_t{kIconSide} * kIconSide * 4) {
    GdkPixbuf* pixbuf = gtk.pixbuf_new(art_rgba.data(), GDK_COLORSPACE_RGB, TRUE, 8, kIconSide,
                                       kIconSide, kIconSide * 4, nullptr, nullptr);
    gtk.pack_start(reinterpret_cast<GtkBox*>(row), gtk.image_new(pixbuf), FALSE, FALSE, 0);
  }
  gtk.pack_start(reinterpret_cast<GtkBox*>(row), gtk.label_new(request.text.c_str()), TRUE, TRUE,
                 0);
  gtk.pack_start(reinterpret_cast<GtkBox*>(gtk.content_area(reinterpret_cast<GtkDialog*>(dialog))),
                 row, TRUE, TRUE, 0);

  // Return presses the focused OK button; Esc closes the dialog, which also dismisses it.
  GtkWidget* ok = gtk.add_button(reinterpret_cast<GtkDialog*>(dialog), "OK", GTK_RESPONSE_OK);
  gtk.set_default_response(reinterpret_cast<GtkDialog*>(dialog), GTK_RESPONSE_OK);
  BelongTo(gtk, dialog, request);
  gtk.show_all(dialog);
  if (request.take_keyboard && request.window_system == WindowSystem::kX11) {
    TakeKeyboard(gtk, dialog);
  }
  gtk.grab_focus(ok);
  gtk.run(reinterpret_cast<GtkDialog*>(dialog));
  return gtk.current_event_time();
}

}  // namespace platform
