// Key messages: Shift and Ctrl are read at message time, the core translates,
// and a nonzero key code goes to the modem while the link is open; the Menu
// key alone stays in the window. The translation runs whether or not the link
// is open, so the chord flag keeps following Shift and Ctrl.
#include "win32/win_keys.h"
#include "link/keymap.h"
#include "win32/win_serial.h"

static bool isDown(int vk) {
    return (GetKeyState(vk) & 0x8000) != 0;
}

static void send(uint8_t code) {
    if (code != 0 && gQ72open == 1) q72_tx(code);
}

int Main_OnControlDown(HWND hwnd, WPARAM wParam) {
    // The Menu key opens the window menu, as Alt+Space does: no row of the key
    // table gives it a code, and it is the keyboard's way to Setup.
    if (wParam == VK_APPS) {
        PostMessageA(hwnd, WM_SYSCOMMAND, SC_KEYMENU, ' ');
        return 1;
    }
    KeyResult r = key_down(wParam, isDown(VK_SHIFT), isDown(VK_CONTROL));
    send(r.code);
    return r.process;
}

int Main_OnControlUp(HWND, WPARAM wParam) {
    KeyResult r = key_up(wParam);
    send(r.code);
    return r.process;
}

int Main_OnSysDown(HWND, WPARAM wParam) {
    send(sys_key_down(wParam, isDown(VK_SHIFT)));
    return 1;
}

// System key-ups, Alt's included, send nothing.
int Main_OnSysUp(HWND, WPARAM) {
    return 1;
}
