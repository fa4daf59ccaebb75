// The choice of update server: the list published by the web host, and the least-loaded
// eligible server in it. Every failure leaves the built-in fallback server in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/heap_str.h"
#include "common/ptr_array.h"

struct SERVER_INFO {
    HEAP_STR address;
    int32_t port = 0;
    int32_t state = 0;
    int32_t load = 0;
};

// An update server to try.
struct SERVER_ENDPOINT {
    std::string address;
    int32_t port = 0;
};

// The port of the fallback server, used until a list entry wins.
const int32_t kFallbackServerPort = 6527;

extern HEAP_STR g_serverAddress;
extern int32_t g_serverPort;
extern PTR_ARRAY<SERVER_INFO> g_serverList;
// The servers to try in turn: the selected one (g_serverAddress, g_serverPort) first,
// then the list's other eligible servers, lowest load first, ties in list order.
extern std::vector<SERVER_ENDPOINT> g_serverCandidates;

// Why the last QueryServerList kept the fallback server (empty when the list was read):
// no answer, or an answer that is not a list (its first bytes shown).
extern std::string g_serverListProblem;

// Sets the fallback server, asks the deployment's web host for the list and selects.
void QueryServerList();
// The same against an explicit web host and port.
void QueryServerList(const char* host, int port);

// Appends one field per ";"-ended piece of text to fields, in order; nothing is trimmed,
// and characters after the last ";" are dropped.
void ParseArgServer(PTR_ARRAY<HEAP_STR>* fields, const char* text);

// False for null; true for an empty text; otherwise true when every character is 0 to 9.
bool IsAllDigits(const char* text);

// Fills list from the fields (a digit header, then groups of six) and, when the header
// passes, stores in address and port the entry with state below 15 and the lowest load
// below 1000000, ties to the first. Leaves address and port alone otherwise. The other
// eligible entries go to `others` (when given) in the same order of choice.
void SelectServer(const PTR_ARRAY<HEAP_STR>& fields, PTR_ARRAY<SERVER_INFO>* list, HEAP_STR* address,
                  int32_t* port, std::vector<SERVER_ENDPOINT>* others = nullptr);
