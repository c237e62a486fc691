// The transcript file (--transcript, transcript= in the settings): each line
// the history takes in, appended as "TIME<TAB>TEXT" on the frame after it
// entered, and at the end the rows still on screen. Like the record file it
// never holds up the reader or the display: a target that would block or
// fails ends the transcript instead.
#pragma once
#include <cstddef>

// Opens `path` for appending, without waiting for a FIFO's reader, writes the
// run's comment line and follows the history from here. Returns nullptr, or
// why it cannot be opened.
const char *transcript_start(const char *path);

// Writes what has entered since the last frame, then the rows of the
// scrolling area that still hold text, and closes the file. The link is
// closed first, so that these are the last rows the modem drew.
void transcript_end();

// `notify` runs on the main thread, once, when the transcript has stopped by
// itself, with the file's path and why.
void transcript_on_stop(void (*notify)(const char *path, const char *reason));

// The comment that heads a run's lines, with its LF: the program's version,
// the port and the moment the program started.
void transcript_comment(char *out, size_t size);
