// Reading and writing the configuration file szConfigName.
#pragma once

// Loads q72cfg; a file that cannot be opened gives the defaults, saved at
// once. Returns 0 only when the read fails ("Read config file failed.").
int loadConfigFile();

// Replaces the file with the 12-byte image of q72cfg through a temporary file
// beside it, so the old file stays whole until the new one is complete.
// Returns 1 when written; 0 when it could not be ("Save State Failed." when
// the write itself failed).
int saveConfigFile();
