// q72render: plays a display stream into the LCD model and writes the final
// screen as a plain PBM, as a PNG the way the window would paint it, or as the
// text screen readers read.
//
//   q72render [--stats] [--startup] [--scale N] [--scheme green|blue] STREAM OUT
#include "app/change_reader.h"
#include "app/lcd_view.h"
#include "app/startup_screen.h"
#include "app/version.h"
#include "lcd/lcd.h"
#include "link/rx_stream.h"

#include "png_out.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

static const char usage[] =
    "usage: q72render [--stats] [--startup] [--scale N] [--scheme green|blue] STREAM OUT";

static const char help[] =
    "Plays the display STREAM ('-' reads stdin) through the LCD model and writes\n"
    "the final screen to OUT, as its name ends: .pbm a plain PBM, .png a picture as\n"
    "the window paints it, .txt the text screen readers read.\n"
    "\n"
    "  --stats         print 'repaints=N cursor=X,Y on|off' when done\n"
    "  --startup       draw the start-up screen first\n"
    "  --scale N       PNG scale 1 to 4 (default 1)\n"
    "  --scheme S      PNG colours: green (black on green, default) or blue\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Exit status: 0 written, 2 bad arguments, unreadable STREAM or unwritable OUT.\n";

static unsigned long repaints;
static void countRepaint() {
    repaints++;
}

[[noreturn]] static void fail(const std::string &message) {
    std::fprintf(stderr, "q72render: %s\n", message.c_str());
    std::exit(2);
}

static bool endsWith(const std::string &s, const char *suffix) {
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

static void playStream(const std::string &path) {
    FILE *in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!in) fail("cannot read " + path + ": " + std::strerror(errno));
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
        for (size_t k = 0; k < n; k++)
            rx_CallBack(0, buf[k]);
    bool bad = std::ferror(in);
    if (in != stdin) std::fclose(in);
    if (bad) fail("cannot read " + path);
}

static bool writePbm(FILE *out, const LcdImage image) {
    std::fputs("P1\n128 64\n", out);
    for (int y = 0; y < LCD_HEIGHT; y++) {
        char line[LCD_WIDTH + 1];
        for (int x = 0; x < LCD_WIDTH; x++)
            line[x] = image[y][x] ? '1' : '0';
        line[LCD_WIDTH] = '\n';
        std::fwrite(line, 1, sizeof line, out);
    }
    return !std::ferror(out);
}

struct Picture {
    const uint8_t (*image)[LCD_WIDTH];
    int scale;
    const Scheme &scheme;
};

static bool writePng(FILE *out, const LcdImage image, int scale, const Scheme &scheme) {
    Picture picture = {image, scale, scheme};
    return write_png(
        out, LCD_WIDTH * scale, LCD_HEIGHT * scale,
        [](int y, uint8_t *rgb, void *data) {
            auto *p = (const Picture *)data;
            lcd_scaled_row(p->image, p->scale, p->scheme, y, rgb);
        },
        &picture);
}

// The 8 lines as the change reader last built them, row 1 in words when the
// status line is there.
static bool writeText(FILE *out) {
    static Speech heard[SPEECH_MAX];
    static TextView view;
    change_reader_take(heard, view, 0);
    std::fprintf(out, "%s\n", view.text);
    return !std::ferror(out);
}

enum Format { PBM, PNG, TEXT };

// Writes beside the target and renames, so a failure leaves no partial file.
static void writeOutput(const std::string &path, Format format, int scale, const Scheme &scheme) {
    LcdImage image;
    lcd_snapshot(image);
    std::string tmp = path + ".tmpXXXXXX";
    int fd = mkstemp(&tmp[0]);
    if (fd < 0) fail("cannot write " + path + ": " + std::strerror(errno));
    mode_t mask = umask(0); // mkstemp makes the file private; give it the usual mode
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    FILE *out = fdopen(fd, "wb");
    bool ok = out && (format == PNG    ? writePng(out, image, scale, scheme)
                      : format == TEXT ? writeText(out)
                                       : writePbm(out, image));
    ok = (out ? std::fclose(out) == 0 : (close(fd), false)) && ok;
    if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        int err = errno;
        std::remove(tmp.c_str());
        fail("cannot write " + path + ": " + std::strerror(err));
    }
}

int main(int argc, char **argv) {
    bool stats = false, startup = false;
    int scale = 1;
    int32_t blkOnGrn = 1;
    std::vector<std::string> files;
    for (int k = 1; k < argc; k++) {
        std::string arg = argv[k];
        if (arg == "--help") {
            std::printf("%s\n%s", usage, help);
            return 0;
        } else if (arg == "--version") {
            std::printf("q72render %s\n", Q72_VERSION);
            return 0;
        } else if (arg == "--stats") {
            stats = true;
        } else if (arg == "--startup") {
            startup = true;
        } else if (arg == "--scale" || arg == "--scheme") {
            if (k + 1 == argc) fail(arg + " needs a value; " + usage);
            std::string value = argv[++k];
            if (arg == "--scale") {
                if (value.size() != 1 || value[0] < '1' || value[0] > '4')
                    fail("--scale must be 1, 2, 3 or 4, not '" + value + "'");
                scale = value[0] - '0';
            } else if (value == "green" || value == "blue") {
                blkOnGrn = value == "green";
            } else {
                fail("--scheme must be green or blue, not '" + value + "'");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            fail("unknown option '" + arg + "'; " + usage);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) fail(std::string("expected STREAM and OUT; ") + usage);
    const std::string &out = files[1];
    Format format = endsWith(out, ".png") ? PNG : endsWith(out, ".txt") ? TEXT : PBM;
    if (format == PBM && !endsWith(out, ".pbm"))
        fail("OUT must end in .pbm, .png or .txt: '" + out + "'");

    rx_set_host({countRepaint, nullptr, nullptr, format == TEXT ? change_reader_note : nullptr});
    if (startup) draw_startup_screen();
    playStream(files[0]);
    writeOutput(out, format, scale, scheme_for(blkOnGrn));
    if (stats)
        std::printf("repaints=%lu cursor=%d,%d %s\n", repaints, curX, curY,
                    bCursorOn ? "on" : "off");
    return 0;
}
