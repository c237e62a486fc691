// The serial devices of this machine, found without opening any of them.
#pragma once

enum {
    PORT_LIST_MAX = 64,
    PORT_NAME_MAX = 256,
};

struct SerialPort {
    char path[PORT_NAME_MAX];   // what to open: the adapter's /dev/serial/by-id name if it has one
    char device[PORT_NAME_MAX]; // the device node it stands for, e.g. /dev/ttyUSB0
};

// Fills `ports` with the USB serial adapters (/dev/ttyUSB*, /dev/ttyACM*, under
// their /dev/serial/by-id names where they have one) and the ttyS* ports that
// have a UART, sorted by path; returns how many. None, without error, where
// those folders or devices are missing.
int list_serial_ports(SerialPort ports[PORT_LIST_MAX]);
