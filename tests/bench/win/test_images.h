// LCD images the paint benchmark draws: random pixels, a checkerboard, all
// set, and the start-up screen.
#pragma once
#include "app/lcd_view.h"

enum { TEST_IMAGE_COUNT = 4 };

struct TestImage {
    const char *name;
    LcdImage pixels;
};

void make_test_images(TestImage images[TEST_IMAGE_COUNT]);
