// Key messages: nothing is sent yet; every key is taken as handled, so none
// reaches the default window procedure.
#include "app/win_keys.h"

int Main_OnControlDown(HWND, WPARAM) {
    return 1;
}
int Main_OnControlUp(HWND, WPARAM) {
    return 1;
}
int Main_OnSysDown(HWND, WPARAM) {
    return 1;
}
int Main_OnSysUp(HWND, WPARAM) {
    return 1;
}
