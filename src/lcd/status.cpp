// Status line: composes row 1 from the modem's status values.
#include "lcd/status.h"
#include "lcd/lcd.h"

#include <cstdio>

uint8_t gRxWpm;
uint8_t gTxWpm;
uint8_t gSigs;
uint8_t gUser;
std::atomic<uint8_t> gStatus;
uint8_t gXstatus;
char altStatLeft[4];
char altStatRight[4];
std::atomic<int32_t> flashTimer;

// Glyphs the status line is composed of.
enum : uint8_t {
    G_PART_BLOCK = 0,
    G_FULL_BLOCK = 1,
    G_BLANK = 2, // baseline only: the empty cell of the status line
    G_SMALL_G = 7,
    G_SMALL_D = 8,
    G_LESS = 28,
    G_GREATER = 29,
    G_PLUS = 43,
    G_B = 66,
    G_H = 72,
    G_P = 80,
    G_W = 87,
    G_UNDERSCORE = 95,
};

enum : uint8_t {
    ST_CLL = 0x01,
    ST_P = 0x02,
    ST_B = 0x04,
    ST_GREATER = 0x08,
    ST_W = 0x10,
    ST_LESS = 0x20,
    ST_H = 0x40,
    ST_ESC = 0x80,
};

static const uint8_t userGlyph[5] = {0, 5, 6, 9, 10}; // users 1..4; 0 = none

void set_signal(uint8_t level) {
    if (level <= 11) gSigs = level;
}
void set_rxWpm(uint8_t wpm) {
    gRxWpm = wpm;
}
void set_txWpm(uint8_t wpm) {
    gTxWpm = wpm;
}
void set_user(uint8_t user) {
    gUser = user;
}
void update_status(uint8_t newStatus) {
    gStatus = newStatus;
}

static int drawAltField(const char field[4], uint8_t column) {
    if (field[0] == 0) return 0;
    lcd_gotoxy(column, 1);
    for (int k = 0; k < 4; k++)
        lcd_putch(field[k]);
    return 1;
}

int updateAltLeft() {
    return drawAltField(altStatLeft, 1);
}
int updateAltRight() {
    return drawAltField(altStatRight, 17);
}

// Five cells: a full block per two levels, a partial one for an odd level;
// level 11 puts a plus sign in the last cell.
static void drawSignalMeter(uint8_t level) {
    for (int cell = 0; cell < 5; cell++) {
        uint8_t g = G_BLANK;
        if (level == 11 && cell == 4)
            g = G_PLUS;
        else if (2 * cell + 2 <= level)
            g = G_FULL_BLOCK;
        else if (2 * cell + 1 == level)
            g = G_PART_BLOCK;
        lcd_putch((char)g);
    }
}

static void printSpeed(const char *prefix, uint8_t wpm) {
    char text[8];
    std::snprintf(text, sizeof text, "%s%02u", prefix, (unsigned)wpm);
    lcd_prstr(text);
}

void showStatusLine() {
    int8_t savedX = curX, savedY = curY;
    bool savedOn = bCursorOn;
    bCursorOn = false;
    uint8_t status = gStatus;

    if (!updateAltLeft()) {
        lcd_gotoxy(1, 1);
        printSpeed("RX", gRxWpm);
    }
    lcd_gotoxy(5, 1);
    lcd_putch((char)(status & ST_LESS ? G_LESS : G_UNDERSCORE));
    lcd_putch((char)G_BLANK);
    drawSignalMeter(gSigs);
    lcd_putch((char)G_BLANK);
    if (gUser >= 1 && gUser <= 4) lcd_putch((char)userGlyph[gUser]);
    lcd_putch((char)(gXstatus & 0x80 ? G_SMALL_G : gXstatus & 0x40 ? G_SMALL_D : G_BLANK));

    if (status & (ST_ESC | ST_CLL)) {
        lcd_gotoxy(13, 1);
        lcd_prstr(status & ST_ESC ? "ESC" : "CLL");
        lcd_putch((char)G_BLANK);
    } else {
        uint8_t mode = status & ST_W ? G_W : status & ST_P ? G_P : status & ST_B ? G_B : G_BLANK;
        lcd_putch((char)mode);
        lcd_putch((char)(status & ST_H ? G_H : G_BLANK));
        lcd_putch((char)(status & ST_GREATER ? G_GREATER : G_UNDERSCORE));
        if (!updateAltRight()) printSpeed("TX", gTxWpm);
    }

    curX = savedX;
    curY = savedY;
    bCursorOn = savedOn;
}

int status_flags_shown(uint8_t status, uint8_t xstatus, const char *out[STATUS_FLAGS_MAX]) {
    int count = 0;
    if (status & ST_LESS) out[count++] = "<";
    if (xstatus & 0x80)
        out[count++] = "g";
    else if (xstatus & 0x40)
        out[count++] = "d";
    if (status & (ST_ESC | ST_CLL)) {
        out[count++] = status & ST_ESC ? "ESC" : "CLL";
        return count;
    }
    if (status & (ST_W | ST_P | ST_B))
        out[count++] = status & ST_W ? "W" : status & ST_P ? "P" : "B";
    if (status & ST_H) out[count++] = "H";
    if (status & ST_GREATER) out[count++] = ">";
    return count;
}

void flash_status(const char *str) {
    int8_t savedX = curX, savedY = curY;
    lcd_gotoxy(12, 1);
    for (int k = 0; k < 4; k++)
        lcd_putch(str[k] == ' ' ? (char)G_BLANK : str[k]);
    curX = savedX;
    curY = savedY;
    flashTimer = FLASH_TICKS;
}

void displayTest() {
    lcd_putc('1', 1, 1);
    lcd_putc('2', 20, 1);
    lcd_putc('3', 1, 4);
    lcd_putc('4', 20, 4);
    lcd_center_text(2, "Display Test");
    char letters[8];
    std::snprintf(letters, sizeof letters, "%c %c %c %c", 'A', 'B', 'C', 'D');
    lcd_center_text(3, letters);
}

void status_reset() {
    gRxWpm = gTxWpm = gSigs = gUser = gXstatus = 0;
    gStatus = 0;
    for (int k = 0; k < 4; k++)
        altStatLeft[k] = altStatRight[k] = 0;
    flashTimer = 0;
}

bool flash_tick() {
    // Compare-and-swap so that a flash restarted by the stream between the
    // load and the store is not cut short by this tick.
    int32_t left = flashTimer.load();
    while (left > 0 && !flashTimer.compare_exchange_weak(left, left - 1)) {
    }
    if (left != 1) return false;
    update_status(0);
    return true;
}
