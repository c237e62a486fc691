// Fuzzes the configuration loader with files of any content and length, and
// the forming of the configuration path with any program path.
#include "app/config.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

static void check(bool ok) {
    if (!ok) std::abort();
}

// The bytes read replace the start of the record's image; the rest keeps its value.
static void checkLoad(const uint8_t *data, size_t size) {
    Q72Config cfg;
    config_set_defaults(cfg);
    uint8_t before[CONFIG_FILE_SIZE], after[CONFIG_FILE_SIZE];
    config_encode(cfg, before);
    config_overlay(cfg, data, size);
    config_encode(cfg, after);
    size_t n = size < CONFIG_FILE_SIZE ? size : CONFIG_FILE_SIZE;
    check(std::memcmp(after, data, n) == 0);
    check(std::memcmp(after + n, before + n, CONFIG_FILE_SIZE - n) == 0);
}

static void checkPath(const uint8_t *data, size_t size) {
    std::string module(reinterpret_cast<const char *>(data), size);
    module = module.c_str(); // a path ends at its first zero
    char out[CONFIG_PATH_MAX];
    if (!config_path_for(module.c_str(), out, sizeof out)) {
        check(out[0] == 0);
        return;
    }
    size_t len = std::strlen(out);
    check(len >= 4 && len < sizeof out);
    check(std::strcmp(out + len - 4, ".cfg") == 0);
    check(module != out);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    checkLoad(data, size);
    checkPath(data, size);
    return 0;
}
