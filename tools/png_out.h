// Writes an 8-bit RGB or RGBA PNG row by row, for the tools that make pictures.
#pragma once
#include <cstdint>
#include <cstdio>

// `row(y, rgb)` fills row y (3 * width bytes, R G B per pixel). False when
// libpng or the file fails.
bool write_png(FILE *out, int width, int height, void (*row)(int y, uint8_t *rgb, void *data),
               void *data);

// The same with an alpha channel: `row(y, rgba)` fills 4 * width bytes.
bool write_png_rgba(FILE *out, int width, int height, void (*row)(int y, uint8_t *rgba, void *data),
                    void *data);
