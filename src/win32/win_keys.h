// Key messages of the main window. Each returns the window procedure's answer.
#pragma once
#include <windows.h>

int Main_OnControlDown(HWND hwnd, WPARAM wParam);
int Main_OnControlUp(HWND hwnd, WPARAM wParam);
int Main_OnSysDown(HWND hwnd, WPARAM wParam);
int Main_OnSysUp(HWND hwnd, WPARAM wParam);
