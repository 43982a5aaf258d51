#!/usr/bin/python3
"""Plays one game on a running compositor as a player would and prints its cost as JSON.

Dismisses the instructions with Return, circles the pointer (radius 250 px about the centre,
one turn per 2 s) for 20 s where the compositor lets us move it, then presses Esc. Input
goes through the compositor: mutter's remote-desktop D-Bus interface, or on sway a virtual
keyboard (wtype); sway offers headless clients no pointer, so there the creature heads for
the top-left corner and the figures cover the bar and the few blocks eaten on the way.
"""
import argparse, json, math, os, subprocess, sys, time

PLAY_S = 20.0
HZ = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / HZ


def vm_hwm_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


class Mutter:
    """mutter's remote desktop: a session lives as long as this D-Bus connection."""

    def __init__(self):
        from gi.repository import Gio, GLib
        self.GLib = GLib
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        rd = Gio.DBusProxy.new_sync(bus, 0, None, "org.gnome.Mutter.RemoteDesktop",
                                    "/org/gnome/Mutter/RemoteDesktop",
                                    "org.gnome.Mutter.RemoteDesktop", None)
        path = rd.call_sync("CreateSession", None, 0, -1, None).unpack()[0]
        self.session = Gio.DBusProxy.new_sync(bus, 0, None, "org.gnome.Mutter.RemoteDesktop",
                                              path, "org.gnome.Mutter.RemoteDesktop.Session",
                                              None)
        self.session.call_sync("Start", None, 0, -1, None)
        # The virtual devices appear with their first event; clients that start later then
        # have a keyboard and a pointer from the start, and no first key is lost.
        self.key(0xFFE1)  # Shift_L
        self.move(0, 0)

    def key(self, keysym):
        for down in (True, False):
            self.session.call_sync("NotifyKeyboardKeysym",
                                   self.GLib.Variant("(ub)", (keysym, down)), 0, -1, None)

    def move(self, dx, dy):
        self.session.call_sync("NotifyPointerMotionRelative",
                               self.GLib.Variant("(dd)", (dx, dy)), 0, -1, None)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--compositor", choices=["mutter", "sway"], required=True)
    p.add_argument("--binary", required=True)
    p.add_argument("--width", type=int, default=1280)
    p.add_argument("--height", type=int, default=800)
    p.add_argument("--x-display", help="run the game on this Xwayland display instead")
    a = p.parse_args()

    if a.compositor == "sway" and a.x_display:
        # Xwayland takes no keymap from a virtual keyboard (wtype's Return arrives there as
        # the key Escape has on the default map): XTest, straight into the X server, whose
        # first key goes nowhere.
        keys = subprocess.Popen(["xdotool", "key", "Shift_L", "sleep", "1.5", "key", "Return",
                                 "sleep", str(PLAY_S + 1.5), "key", "Escape"],
                                env=dict(os.environ, DISPLAY=a.x_display))
        mutter = None
    elif a.compositor == "sway":
        # One virtual keyboard for the whole game: Return, then Esc after the play time.
        keys = subprocess.Popen(["wtype", "-s", "1500", "-k", "Return", "-s",
                                 str(int((PLAY_S + 1.5) * 1000)), "-k", "Escape"])
        mutter = None
    else:
        mutter = Mutter()
    env = dict(os.environ)
    if a.x_display:
        env.pop("WAYLAND_DISPLAY", None)
        env["DISPLAY"] = a.x_display
    else:
        env.pop("DISPLAY", None)
    game = subprocess.Popen([a.binary], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    if mutter:
        time.sleep(1.5)
        mutter.key(0xFF0D)  # Return
        # Into the top-left corner, then to the centre: a known place to circle from.
        mutter.move(-10000, -10000)
        mutter.move(a.width / 2, a.height / 2)
    else:
        time.sleep(1.5)
    time.sleep(1.0)  # the window appears and the board is laid
    start_cpu, start = cpu_seconds(game.pid), time.monotonic()
    x, y = a.width / 2, a.height / 2
    while (now := time.monotonic()) - start < PLAY_S:
        if mutter:
            t = now - start
            nx = a.width / 2 + 250 * math.cos(math.pi * t)
            ny = a.height / 2 + 250 * math.sin(math.pi * t)
            mutter.move(nx - x, ny - y)
            x, y = nx, ny
        time.sleep(0.02)
    cpu = cpu_seconds(game.pid) - start_cpu
    elapsed = time.monotonic() - start
    hwm = vm_hwm_kb(game.pid)
    if mutter:
        mutter.key(0xFF1B)  # Esc
    try:
        status = game.wait(timeout=10)
    except subprocess.TimeoutExpired:
        game.kill()
        status = "did not end on Esc"
    if not mutter:
        keys.wait(timeout=10)
    print(json.dumps({"cpu_percent": round(100 * cpu / elapsed, 2),
                      "vm_hwm_mb": round(hwm / 1024, 1), "exit": status}))
    return 0 if status == 0 else 1


sys.exit(main())
