#include "test_images.h"
#include "app/startup_screen.h"
#include "lcd/lcd.h"

#include <cstdint>

void make_test_images(TestImage images[TEST_IMAGE_COUNT]) {
    uint32_t seed = 12345;
    images[0].name = "random";
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < LCD_WIDTH; x++) {
            seed = seed * 1103515245u + 12345u;
            images[0].pixels[y][x] = (seed >> 16) & 1;
        }
    images[1].name = "checkerboard";
    images[2].name = "all set";
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < LCD_WIDTH; x++) {
            images[1].pixels[y][x] = (x + y) & 1;
            images[2].pixels[y][x] = 1;
        }
    images[3].name = "start-up screen";
    draw_startup_screen();
    lcd_snapshot(images[3].pixels);
    lcd_reset();
}
