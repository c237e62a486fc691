#include "app/startup_screen.h"
#include "lcd/lcd.h"

void draw_startup_screen() {
    lcd_clear_map();
    curY = 1;
    curX = 1;
    bCursorOn = false;
    lcd_cursor_mode(3);
    lcd_center_text(2, "Q72 CW Modem 1.0");
    static const char *const steps[] = {"1.Right Click", "2.Set Com Port", "3.Select Open I/F",
                                        "4.^V on Q72 to Sync"};
    for (int k = 0; k < 4; k++) {
        lcd_gotoxy(2, (uint8_t)(4 + k));
        lcd_prstr(steps[k]);
    }
}
