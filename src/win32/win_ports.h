// The COM ports that exist, found without opening any of them: opening a
// port can raise DTR and RTS on whatever is behind it, and in a radio
// station those lines often key a transmitter.
#pragma once

enum {
    PORT_NUMBER_MAX = 80,  // COM1..COM80 are offered
    PORT_TEXT_MAX = 64,    // "comN  Name", terminating zero included
    PORT_DEVICE_MAX = 200, // a device instance ID, terminating zero included
};

struct PortEntry {
    int number;
    char text[PORT_TEXT_MAX]; // "comN", then two spaces and the device's name if it has one
};

// The ports 1..80 that a driver has registered as present, or that have a
// COMn device name; in number order. Returns the count.
int list_ports(PortEntry out[PORT_NUMBER_MAX]);

// Whether a driver has port n registered as present right now.
bool port_registered(int n);

// The instance ID of the present device that is port n (its PortName is
// COMn), which tells one adapter from another that takes its number later;
// empty when no installed device names the port.
void port_device(int n, char device[PORT_DEVICE_MAX]);
