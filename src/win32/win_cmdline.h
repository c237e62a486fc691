// The command line: --open, --port N, --record FILE, --help, --version.
#pragma once
#include "app/config.h"

#include <cstdint>

struct CommandLine {
    bool open;                       // open the link at start
    bool version;                    // show the version and end
    uint8_t port;                    // port for this run, 0 = the stored one
    wchar_t record[CONFIG_PATH_MAX]; // file to record into, as given; empty = none
    char problem[CONFIG_PATH_MAX];   // why the line was refused, empty for --help
};

// Reads the program's command line. False for --help, an unknown switch or
// a bad value: then show_usage tells the user.
bool read_command_line(CommandLine &line);

// A message box with the problem, if any, and the usage.
void show_usage(const CommandLine &line);

// A message box with the version and the copyright.
void show_version();
