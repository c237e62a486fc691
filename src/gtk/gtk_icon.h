// The program icon on every window.
#pragma once

// Makes the icon compiled into the program, at each of its sizes, the default
// icon of all windows, so it shows whether the program is installed or not.
void icon_set_default();
