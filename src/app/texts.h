// Names and texts that every front end shows the same way.
#pragma once
#include "app/version.h"

inline constexpr char PROGRAM_TITLE[] = Q72_PROGRAM_TITLE;
// The main window's caption while the link's device is gone.
inline constexpr char LINK_LOST_TITLE[] = Q72_PROGRAM_TITLE " - link lost";
inline constexpr char SETUP_TITLE[] = Q72_SETUP_TITLE;
inline constexpr char PORT_DIALOG_TITLE[] = "Select Com Port";
// What screen readers call the LCD.
inline constexpr char LCD_ACCESSIBLE_NAME[] = "Q72 LCD";

// The display sizes offered, for scale 1..4.
inline constexpr const char *SIZE_NAMES[4] = {"1X", "2X", "3X", "4X"};
