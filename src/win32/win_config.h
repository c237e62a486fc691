// Reading and writing the configuration file szConfigName. Their message
// boxes belong to `owner`, the window the user is working in (NULL before
// the main window exists), so that they cannot hide behind it.
#pragma once
#include <windows.h>

// Loads q72cfg; a file that cannot be opened gives the defaults, saved at
// once. Returns 0 only when the read fails ("Read config file failed.").
int loadConfigFile(HWND owner);

// Replaces the file with the 12-byte image of q72cfg through a temporary file
// beside it, so the old file stays whole until the new one is complete; where
// no temporary file can be made, the file is written in place. Returns 1 when
// written. Returns 0 silently when the file itself cannot be written (no
// path, a read-only file or folder), and with "Save State Failed." when the
// write or the replace failed.
int saveConfigFile(HWND owner);
