#include "gtk/gtk_ports.h"

#include <glib.h>

#include <cstdlib>
#include <cstring>

static const char BY_ID[] = "/dev/serial/by-id";

static bool startsWith(const char *s, const char *prefix) {
    return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

// A ttyS device has a UART behind it when the kernel knows its type
// (0 is "unknown": a port number with no hardware).
static bool hasUart(const char *name) {
    char *typePath = g_build_filename("/sys/class/tty", name, "type", nullptr);
    char *type = nullptr;
    bool found = g_file_get_contents(typePath, &type, nullptr, nullptr) && std::atoi(type) != 0;
    g_free(type);
    g_free(typePath);
    return found;
}

// The by-id name that links to `device`, or `device` itself.
static void nameFor(const char *device, char out[PORT_NAME_MAX]) {
    g_strlcpy(out, device, PORT_NAME_MAX);
    GDir *dir = g_dir_open(BY_ID, 0, nullptr);
    if (!dir) return;
    while (const char *entry = g_dir_read_name(dir)) {
        char *link = g_build_filename(BY_ID, entry, nullptr);
        char *target = realpath(link, nullptr);
        if (target && std::strcmp(target, device) == 0) g_strlcpy(out, link, PORT_NAME_MAX);
        std::free(target);
        g_free(link);
    }
    g_dir_close(dir);
}

static int byPath(const void *a, const void *b) {
    return std::strcmp(((const SerialPort *)a)->path, ((const SerialPort *)b)->path);
}

int list_serial_ports(SerialPort ports[PORT_LIST_MAX]) {
    int count = 0;
    GDir *dir = g_dir_open("/sys/class/tty", 0, nullptr);
    if (!dir) return 0;
    while (const char *name = g_dir_read_name(dir)) {
        if (count == PORT_LIST_MAX) break;
        bool usb = startsWith(name, "ttyUSB") || startsWith(name, "ttyACM");
        if (!usb && !(startsWith(name, "ttyS") && hasUart(name))) continue;
        SerialPort &port = ports[count];
        g_snprintf(port.device, sizeof port.device, "/dev/%s", name);
        if (!g_file_test(port.device, G_FILE_TEST_EXISTS)) continue;
        nameFor(port.device, port.path);
        count++;
    }
    g_dir_close(dir);
    std::qsort(ports, (size_t)count, sizeof ports[0], byPath);
    return count;
}
