// What leaves the program as a copy of the screen: the text rows read back
// from the cells, and the link texts every front end shows.
#include "app/lcd_view.h"
#include "app/startup_screen.h"
#include "link/link_status.h"
#include "test_lcd.h"

using LcdView = LcdFixture;

TEST_F(LcdView, TextRowsOfTheStartupScreen) {
    draw_startup_screen();
    const char *expected[LCD_ROWS] = {
        "                     ", "  Q72 CW Modem 1.0   ", "                     ",
        " 1.Right Click       ", " 2.Set Com Port      ", " 3.Select Open I/F   ",
        " 4.^V on Q72 to Sync ", "                     ",
    };
    for (int row = 1; row <= LCD_ROWS; row++) {
        char text[LCD_COLS + 1];
        lcd_text_row(row, text);
        EXPECT_STREQ(text, expected[row - 1]) << "row " << row;
    }
}

TEST_F(LcdView, CodesOutsidePrintableAsciiReadAsTheStandIn) {
    // Row text through the stream: a special symbol, the backslash (drawn as
    // glyph 3), the last printable code, DEL and a code past the glyph table.
    feed(bytes({0x8C, 3}, "a\x01\\~\x7F\xC8z"));
    char text[LCD_COLS + 1];
    lcd_text_row(3, text);
    EXPECT_EQ(std::string(text, 7), "a##~##z");
    EXPECT_EQ(lcd_cell_code(0, 3), ' ');
    EXPECT_EQ(lcd_cell_code(LCD_COLS + 1, 3), ' ');
}

TEST(LinkTexts, StatesAndFailures) {
    EXPECT_STREQ(link_state_text(LINK_CLOSED), "Q72 I/F Closed");
    EXPECT_STREQ(link_state_text(LINK_OPEN), "Q72 Linked");
    EXPECT_STREQ(link_state_text(LINK_LOST), "Q72 Link Lost");
    EXPECT_STREQ(link_button_text(LINK_CLOSED), "Open I/F");
    EXPECT_STREQ(link_button_text(LINK_LOST), "Close I/F");
    EXPECT_STREQ(link_failure_text(LINK_OPEN_FAIL), "Com Open Fail");
    EXPECT_STREQ(link_failure_text(LINK_GET_STATE_FAIL), "Get State Fail");
    EXPECT_STREQ(link_failure_text(LINK_SET_STATE_FAIL), "Set State Fail");
    EXPECT_STREQ(link_failure_text(LINK_PURGE_FAIL), "Unknown Fail");
    EXPECT_STREQ(link_failure_text(LINK_THREAD_FAIL), "Unknown Fail");
}
