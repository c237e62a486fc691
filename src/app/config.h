// The persistent settings: the record q72cfg, its 12-byte file image and the
// forming of the file's path from the program's path.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
    CONFIG_FILE_SIZE = 12,
    CONFIG_PATH_MAX = 260, // path buffers, terminating zero included
};

// Field order and padding follow the file image: comPort at 0, BlkOnGrn at 4,
// scale at 8. The padding bytes are kept as read, so a save writes back what
// a load brought in.
struct Q72Config {
    uint8_t comPort; // COM port number, 0 = none chosen
    uint8_t pad1[3];
    int32_t BlkOnGrn; // 1 black on green, 0 white on blue
    uint8_t scale;    // zoom 1..4
    uint8_t pad2[3];
};

extern Q72Config q72cfg;
extern char szConfigName[CONFIG_PATH_MAX]; // empty: no usable path, nothing is read or written

// No port, black on green, 1X; the padding bytes are cleared.
void config_set_defaults(Q72Config &cfg);

// The file image, little-endian.
void config_encode(const Q72Config &cfg, uint8_t image[CONFIG_FILE_SIZE]);

// Lays `count` bytes over the start of the record's image; the rest of the
// record keeps its value. Bytes past the twelfth are ignored.
void config_overlay(Q72Config &cfg, const uint8_t *bytes, size_t count);

// Forms the configuration path from the program's path: the file name's
// extension becomes "cfg" (".cfg" is appended when there is none). Returns
// false, leaving `out` empty, when the result does not fit `outSize` or would
// name the program file itself.
bool config_path_for(const char *modulePath, char *out, size_t outSize);
