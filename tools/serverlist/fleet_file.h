// The fleet file: one update server per line,
//
//     address port status-address:status-port x y
//     patch1.example.com 6527 10.0.0.11:9465 0 0
//
// fields separated by blanks or tabs; blank lines and lines starting with '#' are left
// out. `address` and `port` are what the launcher connects to, as published; the status
// address (IPv4) is where serverlist asks for the load; x and y are published as the
// two fields the launcher does not read. No field may hold ';', the list's separator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FLEET_HOST {
    std::string address;
    unsigned short port = 0;
    std::string statusAddress;      // dotted IPv4
    unsigned short statusPort = 0;
    std::string x;
    std::string y;

    // "address:port", for the log.
    std::string Name() const { return address + ":" + std::to_string(port); }
};

// Parses the text of a fleet file. On failure returns false with a message naming the
// line ("line 3: port 'x' is not a number from 1 to 65535").
bool ParseFleetFile(const std::string& text, std::vector<FLEET_HOST>* hosts, std::string* error);
