"""Keyboard input for the end-to-end tests: the X keyboard's lock state and
key codes, and the key codes the simulated modem logged."""

import ctypes
import ctypes.util
import os

from harness import HarnessError, wait_until

XK_CAPS_LOCK = 0xFFE5
XK_NUM_LOCK = 0xFF7F
LOCK_MASK = 0x02  # the modifier Caps Lock locks
XKB_USE_CORE_KBD = 0x0100


class XkbState(ctypes.Structure):
    _fields_ = [("group", ctypes.c_ubyte), ("locked_group", ctypes.c_ubyte),
                ("base_group", ctypes.c_ushort), ("latched_group", ctypes.c_ushort),
                ("mods", ctypes.c_ubyte), ("base_mods", ctypes.c_ubyte),
                ("latched_mods", ctypes.c_ubyte), ("locked_mods", ctypes.c_ubyte),
                ("compat_state", ctypes.c_ubyte), ("grab_mods", ctypes.c_ubyte),
                ("compat_grab_mods", ctypes.c_ubyte), ("lookup_mods", ctypes.c_ubyte),
                ("compat_lookup_mods", ctypes.c_ubyte), ("ptr_buttons", ctypes.c_ushort)]


class XKeyboard:
    """The core keyboard of an X display, read through Xlib: which keycode
    carries a keysym, and whether Caps Lock and Num Lock are on."""

    def __init__(self, display):
        xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        xlib.XOpenDisplay.restype = ctypes.c_void_p
        xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        xlib.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        xlib.XKeysymToKeycode.restype = ctypes.c_ubyte
        xlib.XkbKeysymToModifiers.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        xlib.XkbKeysymToModifiers.restype = ctypes.c_uint
        xlib.XkbGetState.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.POINTER(XkbState)]
        xlib.XkbLockGroup.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_uint]
        xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
        xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                           ctypes.c_ulong]
        self.xlib, self.xtst = xlib, xtst
        self.display = xlib.XOpenDisplay(display.encode())
        if not self.display:
            raise HarnessError("cannot open X display " + display)
        self.num_lock_mask = xlib.XkbKeysymToModifiers(self.display, XK_NUM_LOCK)
        if not self.num_lock_mask:
            self.close()
            raise HarnessError("Num Lock locks no modifier")

    def keycode(self, keysym):
        """The keycode as a string xdotool takes for a keycode."""
        code = self.xlib.XKeysymToKeycode(self.display, keysym)
        if not code:
            raise HarnessError("no key carries keysym 0x%X" % keysym)
        return str(code)

    def locks(self):
        """(Caps Lock on, Num Lock on)."""
        state = XkbState()
        if self.xlib.XkbGetState(self.display, XKB_USE_CORE_KBD, ctypes.byref(state)) != 0:
            raise HarnessError("XkbGetState failed")
        return bool(state.locked_mods & LOCK_MASK), bool(state.locked_mods & self.num_lock_mask)

    def lock_group(self, group):
        """Makes layout group `group` (0 = the first) the one keys type in."""
        self.xlib.XkbLockGroup(self.display, XKB_USE_CORE_KBD, group)
        self.xlib.XSync(self.display, 0)

    def key(self, keycode, press):
        """One key event through XTEST, in the locked group (xdotool types a
        keycode in the first group)."""
        self.xtst.XTestFakeKeyEvent(self.display, keycode, 1 if press else 0, 0)
        self.xlib.XSync(self.display, 0)

    def close(self):
        if self.display:
            self.xlib.XCloseDisplay(self.display)
            self.display = None


class ModemLog:
    """The key codes q72modem logged ('SECONDS 0xHH' lines), in order."""

    def __init__(self, path):
        self.path = path

    def codes(self):
        try:
            with open(self.path) as f:
                text = f.read()
        except FileNotFoundError:
            return b""
        complete = text.split("\n")[:-1]  # a line being written has no newline yet
        return bytes(int(line.split()[1], 16) for line in complete)

    def wait_for(self, code, start, timeout, what):
        """Waits until `code` has arrived at or after position `start`; returns
        what arrived from `start` up to it, and its position."""
        def arrived():
            codes = self.codes()
            at = codes.find(bytes([code]), start)
            return (codes[start:at], at) if at >= 0 else None
        try:
            return wait_until(arrived, timeout, what, interval=0.05)
        except AssertionError as error:
            raise AssertionError("%s; from there the modem got %s"
                                 % (error, hex_bytes(self.codes()[start:])))


def hex_bytes(data):
    return " ".join("%02X" % b for b in data) or "nothing"


def start_modem(env, pair, name="keys"):
    """q72modem listening on `pair`, logging key codes to a file of the run."""
    path = env.scratch(name + ".log")
    if os.path.exists(path):
        os.unlink(path)
    env.modem(pair, options=["--log", path])
    return ModemLog(path)
