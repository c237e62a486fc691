// Structural properties of the glyph table that a slip in one byte would break.
#include "lcd/font.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

using Glyph = std::array<uint8_t, 5>;

static Glyph glyph(int code) {
    Glyph g;
    for (int k = 0; k < 5; k++)
        g[k] = fontA09[5 * code + k];
    return g;
}

// Pixel rows (0 = top) that any column of the glyph sets.
static uint8_t rowsUsed(int code) {
    uint8_t rows = 0;
    for (uint8_t column : glyph(code))
        rows |= column;
    return rows;
}

static int topRow(int code) {
    for (int j = 0; j < 8; j++)
        if (rowsUsed(code) & (0x80 >> j)) return j;
    return -1;
}

TEST(GlyphTable, SpotChecks) {
    struct {
        int code;
        Glyph bytes;
    } spots[] = {
        {0x00, {0xFF, 0xFF, 0xFF, 0x01, 0x01}}, {0x01, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {0x17, {0x04, 0x0E, 0x15, 0x04, 0x7C}}, {0x30, {0x3E, 0x45, 0x49, 0x51, 0x3E}},
        {0x41, {0x1F, 0x24, 0x44, 0x24, 0x1F}}, {0x67, {0x18, 0x25, 0x25, 0x25, 0x3E}},
        {0x7E, {0x04, 0x08, 0x08, 0x04, 0x08}}, {0x7F, {0x1E, 0x22, 0x42, 0x22, 0x1E}},
    };
    for (auto s : spots)
        EXPECT_EQ(glyph(s.code), s.bytes) << "code " << s.code;
}

TEST(GlyphTable, TopRowIsBlankExceptForTheTwoBlocks) {
    for (int code = 0; code < FONT_GLYPHS; code++)
        EXPECT_EQ(rowsUsed(code) & 0x80, code <= 0x01 ? 0x80 : 0) << "code " << code;
}

TEST(GlyphTable, OnlyTheListedCodesShareTheirPixels) {
    const std::set<std::set<int>> shared = {
        {0x02, 0x5F}, {0x03, 0x5C}, {0x04, 0x1B}, {0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x20}};
    std::set<std::set<int>> found;
    for (int a = 0; a < FONT_GLYPHS; a++) {
        std::set<int> same;
        for (int b = 0; b < FONT_GLYPHS; b++)
            if (glyph(a) == glyph(b)) same.insert(b);
        if (same.size() > 1) found.insert(same);
    }
    EXPECT_EQ(found, shared);
    EXPECT_EQ(glyph(0x20), Glyph{});
}

TEST(GlyphTable, CapitalsAndDigitsSpanRowsOneToSeven) {
    std::string codes = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (char c : codes)
        EXPECT_EQ(rowsUsed(c) & 0x41, 0x41) << c;
}

TEST(GlyphTable, SmallLettersWithoutAscendersStartInRowThree) {
    for (char c : std::string("acemnopqrsuvwxyz"))
        EXPECT_EQ(topRow(c), 3) << c;
    EXPECT_EQ(topRow('g'), 2);
    for (char c : std::string("bdfhklt"))
        EXPECT_EQ(topRow(c), 1) << c;
}

TEST(GlyphTable, NarrowCharactersLeaveTheOuterColumnsBlank) {
    for (int code : {0x21, 0x2E, 0x49, 0x7C}) {
        EXPECT_EQ(glyph(code)[0], 0) << code;
        EXPECT_EQ(glyph(code)[4], 0) << code;
    }
}
