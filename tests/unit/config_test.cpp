// The configuration record's file image and the forming of its path.
#include "app/config.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

typedef std::array<uint8_t, CONFIG_FILE_SIZE> Image;

static Image imageOf(const Q72Config &cfg) {
    Image image;
    config_encode(cfg, image.data());
    return image;
}

static Q72Config loaded(std::initializer_list<uint8_t> file, Q72Config start = Q72Config{}) {
    std::vector<uint8_t> bytes(file);
    config_overlay(start, bytes.data(), bytes.size());
    return start;
}

TEST(ConfigImage, DefaultsAreNoPortBlackOnGreenOneX) {
    Q72Config cfg;
    config_overlay(cfg, Image{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}.data(), CONFIG_FILE_SIZE);
    config_set_defaults(cfg);
    EXPECT_EQ(imageOf(cfg), (Image{0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
}

TEST(ConfigImage, FieldsSitAtTheirOffsetsLittleEndian) {
    Q72Config cfg = loaded({5, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0});
    EXPECT_EQ(cfg.comPort, 5);
    EXPECT_EQ(cfg.BlkOnGrn, 0);
    EXPECT_EQ(cfg.scale, 3);

    cfg = loaded({0xFF, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0xFE, 0, 0, 0});
    EXPECT_EQ(cfg.comPort, 255);
    EXPECT_EQ(cfg.BlkOnGrn, 0x12345678);
    EXPECT_EQ(cfg.scale, 254);

    EXPECT_EQ(loaded({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}).BlkOnGrn, -1);
    EXPECT_EQ(loaded({0, 0, 0, 0, 0, 0, 0, 0x80}).BlkOnGrn, INT32_MIN);
    EXPECT_EQ(loaded({0, 0, 0, 0, 2, 0, 0, 0}).BlkOnGrn, 2);
}

TEST(ConfigImage, SettingFieldsChangesOnlyTheirBytes) {
    Q72Config cfg = loaded({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    cfg.comPort = 21;
    cfg.BlkOnGrn = 0;
    cfg.scale = 4;
    EXPECT_EQ(imageOf(cfg), (Image{21, 2, 3, 4, 0, 0, 0, 0, 4, 10, 11, 12}));
}

TEST(ConfigImage, AnyTwelveBytesSurviveLoadAndSave) {
    std::mt19937 random(72);
    for (int round = 0; round < 2000; round++) {
        Image file;
        for (uint8_t &b : file)
            b = (uint8_t)random();
        Q72Config cfg;
        config_set_defaults(cfg);
        config_overlay(cfg, file.data(), file.size());
        EXPECT_EQ(imageOf(cfg), file) << "round " << round;
    }
}

TEST(ConfigFileLength, ShortFileReplacesOnlyTheStartOfTheRecord) {
    Q72Config oneByte = loaded({7});
    EXPECT_EQ(imageOf(oneByte), (Image{7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(oneByte.BlkOnGrn, 0);
    EXPECT_EQ(oneByte.scale, 0);

    EXPECT_EQ(imageOf(loaded({})), Image{});

    Q72Config start;
    config_set_defaults(start);
    start.comPort = 3;
    EXPECT_EQ(imageOf(loaded({9, 0xAA, 0xBB, 0xCC, 0}, start)),
              (Image{9, 0xAA, 0xBB, 0xCC, 0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(imageOf(loaded({}, start)), imageOf(start));
    Q72Config elevenBytes = loaded({1, 0, 0, 0, 0, 0, 0, 0, 2, 5, 6}, start);
    EXPECT_EQ(imageOf(elevenBytes), (Image{1, 0, 0, 0, 0, 0, 0, 0, 2, 5, 6, 0}));
}

TEST(ConfigFileLength, LongFileUsesItsFirstTwelveBytes) {
    Q72Config cfg = loaded(
        {4, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
    EXPECT_EQ(imageOf(cfg), (Image{4, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}));
}

static std::string pathFor(const std::string &module, size_t outSize = CONFIG_PATH_MAX) {
    std::string out(outSize, '#');
    bool ok = config_path_for(module.c_str(), &out[0], outSize);
    std::string result = out.c_str();
    EXPECT_EQ(ok, !result.empty()) << module;
    return ok ? result : "<none>";
}

TEST(ConfigPath, ExtensionOfTheProgramFileBecomesCfg) {
    EXPECT_EQ(pathFor("D:\\tools\\prog.exe"), "D:\\tools\\prog.cfg");
    EXPECT_EQ(pathFor("Z:\\tmp\\q72\\q72display.exe"), "Z:\\tmp\\q72\\q72display.cfg");
    EXPECT_EQ(pathFor("C:\\APPS\\PROG.EXE"), "C:\\APPS\\PROG.cfg");
    EXPECT_EQ(pathFor("C:\\apps\\Prog.Exe"), "C:\\apps\\Prog.cfg");
    EXPECT_EQ(pathFor("C:\\apps\\prog.com"), "C:\\apps\\prog.cfg");
    EXPECT_EQ(pathFor("C:\\apps\\q72.v1.exe"), "C:\\apps\\q72.v1.cfg");
    EXPECT_EQ(pathFor("prog.exe"), "prog.cfg");
}

TEST(ConfigPath, FoldersNeverChangeThePath) {
    EXPECT_EQ(pathFor("D:\\exe\\prog.exe"), "D:\\exe\\prog.cfg");
    EXPECT_EQ(pathFor("C:\\my.exe.files\\prog.exe"), "C:\\my.exe.files\\prog.cfg");
    EXPECT_EQ(pathFor("C:\\v1.2\\prog"), "C:\\v1.2\\prog.cfg");
    EXPECT_EQ(pathFor("/home/u/exe.d/prog"), "/home/u/exe.d/prog.cfg");
    EXPECT_EQ(pathFor("C:prog.exe"), "C:prog.cfg");
}

TEST(ConfigPath, NoExtensionAppendsCfg) {
    EXPECT_EQ(pathFor("C:\\apps\\q72display"), "C:\\apps\\q72display.cfg");
    EXPECT_EQ(pathFor("C:\\apps\\prog."), "C:\\apps\\prog.cfg");
}

TEST(ConfigPath, NoPathWhenThereIsNoProperFileName) {
    EXPECT_EQ(pathFor(""), "<none>");
    EXPECT_EQ(pathFor("C:\\apps\\"), "<none>");
    EXPECT_EQ(pathFor("C:\\apps\\prog.cfg"), "<none>");
    EXPECT_EQ(pathFor("C:\\apps\\PROG.CFG"), "<none>");
}

TEST(ConfigPath, LongPathsFitOrGiveNoPath) {
    std::string folder = "Z:\\" + std::string(200, 'd') + "\\";
    EXPECT_EQ(pathFor(folder + "prog.exe"), folder + "prog.cfg");

    std::string module = "C:\\a\\prog.exe"; // 13 characters; the result needs 14 bytes
    EXPECT_EQ(pathFor(module, 14), "C:\\a\\prog.cfg");
    EXPECT_EQ(pathFor(module, 13), "<none>");
    EXPECT_EQ(pathFor("C:\\a\\prog", 14), "C:\\a\\prog.cfg");
    EXPECT_EQ(pathFor("C:\\a\\prog", 13), "<none>");

    char untouched = '#';
    EXPECT_FALSE(config_path_for(module.c_str(), &untouched, 0));
    EXPECT_EQ(untouched, '#');
}
