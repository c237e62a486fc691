// "History...": a window of its own, "Q72display History", whose read-only
// edit control holds the lines that have left the screen, each with its time,
// then the rows now on screen. It follows new lines while scrolled to the end
// and stays put while the user reads further up; its keys are its own (copy,
// select all, Find, Save As), and nothing typed there goes to the modem.
// Window thread only.
#pragma once
#include <windows.h>

// Opens the window, or brings it to the front when it is open.
void history_window_open();

// Catches the message loop's messages meant for the window's shortcuts and
// its find dialog; true when handled.
bool history_window_message(MSG &msg);

// On the main window's tick: shows what entered and what the rows now read.
void history_window_update();

// The edit control and what it shows, for the find dialog and Save As.
HWND history_window_edit();
