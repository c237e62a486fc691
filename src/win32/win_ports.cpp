// Drivers list their present ports under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
// (value data "COMn") and remove them when the device goes; QueryDosDevice
// knows the COMn names the system has mapped. The names users know a port by
// come from SetupAPI's Ports class, matched by the PortName of each device.
#include "win32/win_ports.h"

#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>

static const char serialComm[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

enum { NAME_MAX = PORT_TEXT_MAX - 7 }; // leaves room for "com80  "

// The number in "COMn" (any case), 0 when the text is not such a name or
// the number is above `most`.
static int comNumber(const char *text, int most = PORT_NUMBER_MAX) {
    if (_strnicmp(text, "COM", 3) != 0) return 0;
    int n = 0;
    for (const char *p = text + 3; *p; p++) {
        if (*p < '0' || *p > '9' || n > most) return 0;
        n = n * 10 + (*p - '0');
    }
    return n <= most ? n : 0;
}

// Marks present[n] for each port registered under SERIALCOMM.
static void registeredPorts(bool present[PORT_NUMBER_MAX + 1]) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, serialComm, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; index++) {
        char name[256], data[32];
        DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
        LONG result =
            RegEnumValueA(key, index, name, &nameSize, NULL, &type, (BYTE *)data, &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue; // too long to be a port name
        data[dataSize] = 0;
        present[comNumber(data)] = true;
    }
    RegCloseKey(key);
}

bool port_registered(int n) {
    bool present[PORT_NUMBER_MAX + 1] = {};
    registeredPorts(present);
    return n >= 1 && n <= PORT_NUMBER_MAX && present[n];
}

// The friendly name of a Ports device, without the " (COMn)" it usually ends with.
static void deviceName(HDEVINFO set, SP_DEVINFO_DATA &info, char *name, DWORD size) {
    name[0] = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_FRIENDLYNAME, NULL, (BYTE *)name,
                                           size - 1, NULL) &&
        !SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_DEVICEDESC, NULL, (BYTE *)name,
                                           size - 1, NULL))
        name[0] = 0;
    name[size - 1] = 0;
    size_t length = std::strlen(name);
    char *open = std::strrchr(name, '(');
    if (!open || open == name || open[-1] != ' ' || name[length - 1] != ')') return;
    char inner[16];
    size_t innerLength = size_t(name + length - 1 - (open + 1));
    if (innerLength >= sizeof inner) return;
    std::memcpy(inner, open + 1, innerLength);
    inner[innerLength] = 0;
    if (comNumber(inner)) open[-1] = 0;
}

// The port number a Ports device stands for (its PortName), 0 if none or above `most`.
static int devicePort(HDEVINFO set, SP_DEVINFO_DATA &info, int most = PORT_NUMBER_MAX) {
    HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) return 0;
    char portName[16];
    DWORD size = sizeof portName - 1, type = 0;
    LONG result = RegQueryValueExA(key, "PortName", NULL, &type, (BYTE *)portName, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) return 0;
    portName[size] = 0;
    return comNumber(portName, most);
}

// names[n] for each Ports device with a PortName COMn; empty where none.
static void portNames(char names[PORT_NUMBER_MAX + 1][NAME_MAX]) {
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, NULL, NULL, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); index++) {
        int n = devicePort(set, info);
        if (n) deviceName(set, info, names[n], NAME_MAX);
    }
    SetupDiDestroyDeviceInfoList(set);
}

void port_device(int n, char device[PORT_DEVICE_MAX]) {
    device[0] = 0;
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, NULL, NULL, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); index++) {
        if (devicePort(set, info, 255) != n) continue; // any port the link can be on
        if (!SetupDiGetDeviceInstanceIdA(set, &info, device, PORT_DEVICE_MAX, NULL)) device[0] = 0;
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
}

int list_ports(PortEntry out[PORT_NUMBER_MAX]) {
    bool present[PORT_NUMBER_MAX + 1] = {};
    registeredPorts(present);
    for (int n = 1; n <= PORT_NUMBER_MAX; n++) {
        char name[16], target[512];
        std::snprintf(name, sizeof name, "COM%d", n);
        if (QueryDosDeviceA(name, target, sizeof target)) present[n] = true;
    }
    static char names[PORT_NUMBER_MAX + 1][NAME_MAX];
    std::memset(names, 0, sizeof names);
    portNames(names);
    int count = 0;
    for (int n = 1; n <= PORT_NUMBER_MAX; n++) {
        if (!present[n]) continue;
        PortEntry &entry = out[count++];
        entry.number = n;
        if (names[n][0])
            std::snprintf(entry.text, sizeof entry.text, "com%d  %s", n, names[n]);
        else
            std::snprintf(entry.text, sizeof entry.text, "com%d", n);
    }
    return count;
}
