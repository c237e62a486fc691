#include "png_out.h"

#include <png.h>

#include <vector>

static bool writePng(FILE *out, int width, int height, int colourType, int channels,
                     void (*row)(int y, uint8_t *pixels, void *data), void *data) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    std::vector<png_byte> pixels((size_t)channels * width);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, width, height, 8, colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; y++) {
        row(y, pixels.data(), data);
        png_write_row(png, pixels.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return !std::ferror(out);
}

bool write_png(FILE *out, int width, int height, void (*row)(int y, uint8_t *rgb, void *data),
               void *data) {
    return writePng(out, width, height, PNG_COLOR_TYPE_RGB, 3, row, data);
}

bool write_png_rgba(FILE *out, int width, int height, void (*row)(int y, uint8_t *rgba, void *data),
                    void *data) {
    return writePng(out, width, height, PNG_COLOR_TYPE_RGB_ALPHA, 4, row, data);
}
