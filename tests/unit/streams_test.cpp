// Recorded display streams against their known final screens and counts.
#include "app/startup_screen.h"
#include "test_lcd.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

static std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "missing " << path;
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

static std::string dataPath(const std::string &name) {
    return std::string(Q72_TEST_DATA) + "/" + name;
}

// The map as plain PBM text, the format the expected screens are kept in.
static std::string mapAsPbm() {
    std::string pbm = "P1\n128 64\n";
    for (int y = 0; y < LCD_HEIGHT; y++) {
        for (int x = 0; x < LCD_WIDTH; x++)
            pbm += map[x][y] ? '1' : '0';
        pbm += '\n';
    }
    return pbm;
}

static std::string statsLine() {
    std::ostringstream line;
    line << "repaints=" << LcdFixture::repaints << " cursor=" << int(curX) << ',' << int(curY)
         << ' ' << (bCursorOn ? "on" : "off") << '\n';
    return line.str();
}

class RecordedStream : public LcdFixture, public ::testing::WithParamInterface<const char *> {};

TEST_P(RecordedStream, EndsOnTheRecordedScreen) {
    std::string name = GetParam();
    feed(readFile(dataPath(name + ".bin")));
    EXPECT_EQ(mapAsPbm(), readFile(dataPath(name + ".pbm")));
    EXPECT_EQ(statsLine(), readFile(dataPath(name + ".stats")));
}

INSTANTIATE_TEST_SUITE_P(Samples, RecordedStream,
                         ::testing::Values("s000", "s001", "s002", "s003", "s004", "s005", "s006",
                                           "s007", "s008", "s009", "s010", "s011"));

TEST_F(LcdFixture, StartupScreenMatchesTheRecordedOne) {
    draw_startup_screen();
    EXPECT_EQ(mapAsPbm(), readFile(dataPath("startup.pbm")));
    EXPECT_EQ(statsLine(), readFile(dataPath("startup.stats")));
}
