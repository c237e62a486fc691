// What the command line and the settings file ask of the server.
#pragma once
#include <cstdint>

enum { WEB_ADDR_MAX = 64, WEB_DEFAULT_CLIENTS = 8, WEB_CLIENTS_MAX = 64 };

struct WebOptions {
    char addr[WEB_ADDR_MAX]; // an IP address, or "localhost" for both loopbacks
    int port;                // 0: any free port
    bool control;            // the first page may send keys
    int maxClients;
    const char *tlsCert, *tlsKey; // both or neither
};

// Splits "[ADDR:]PORT" ("8072", "0.0.0.0:8072", "[::]:8072", "localhost:0")
// into `addr` and `port`, the address 127.0.0.1 when none is given; false
// for anything else.
bool web_parse_serve(const char *text, char (&addr)[WEB_ADDR_MAX], int &port);
