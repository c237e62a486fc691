#include "app/config.h"

#include <cstring>

Q72Config q72cfg;
char szConfigName[CONFIG_PATH_MAX];

void config_set_defaults(Q72Config &cfg) {
    cfg = Q72Config{};
    cfg.BlkOnGrn = 1;
    cfg.scale = 1;
}

void config_encode(const Q72Config &cfg, uint8_t image[CONFIG_FILE_SIZE]) {
    uint32_t scheme = (uint32_t)cfg.BlkOnGrn;
    image[0] = cfg.comPort;
    std::memcpy(image + 1, cfg.pad1, 3);
    for (int k = 0; k < 4; k++)
        image[4 + k] = (uint8_t)(scheme >> (8 * k));
    image[8] = cfg.scale;
    std::memcpy(image + 9, cfg.pad2, 3);
}

void config_overlay(Q72Config &cfg, const uint8_t *bytes, size_t count) {
    uint8_t image[CONFIG_FILE_SIZE];
    config_encode(cfg, image);
    if (count > 0) // an empty read may come with no buffer at all
        std::memcpy(image, bytes, count < sizeof image ? count : sizeof image);
    uint32_t scheme = 0;
    for (int k = 0; k < 4; k++)
        scheme |= (uint32_t)image[4 + k] << (8 * k);
    cfg.comPort = image[0];
    std::memcpy(cfg.pad1, image + 1, 3);
    cfg.BlkOnGrn = (int32_t)scheme;
    cfg.scale = image[8];
    std::memcpy(cfg.pad2, image + 9, 3);
}

static char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

static bool sameIgnoringCase(const char *a, const char *b) {
    for (; *a && *b; a++, b++)
        if (lowerAscii(*a) != lowerAscii(*b)) return false;
    return *a == *b;
}

bool config_path_for(const char *modulePath, char *out, size_t outSize) {
    if (outSize == 0) return false;
    out[0] = 0;
    size_t len = std::strlen(modulePath);
    size_t nameStart = 0;
    for (size_t k = 0; k < len; k++)
        if (modulePath[k] == '\\' || modulePath[k] == '/' || modulePath[k] == ':')
            nameStart = k + 1;
    if (nameStart == len) return false; // a folder, not a file
    size_t stem = len;
    for (size_t k = len; k > nameStart; k--)
        if (modulePath[k - 1] == '.') {
            stem = k - 1;
            break;
        }
    if (stem + 4 >= outSize) return false;
    std::memcpy(out, modulePath, stem);
    std::memcpy(out + stem, ".cfg", 5);
    if (sameIgnoringCase(out, modulePath)) {
        out[0] = 0;
        return false;
    }
    return true;
}
