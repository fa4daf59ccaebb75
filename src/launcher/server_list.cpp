#include "launcher/server_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/guard.h"
#include "common/init_order.h"
#include "common/decimal_text.h"
#include "net/http_get.h"
#include "velgrim_config.h"

RX_INIT_ORDER(RX_INIT_SERVER_ADDRESS) HEAP_STR g_serverAddress;
int32_t g_serverPort = 0;
RX_INIT_ORDER(RX_INIT_SERVER_LIST) PTR_ARRAY<SERVER_INFO> g_serverList;
std::vector<SERVER_ENDPOINT> g_serverCandidates;
std::string g_serverListProblem;

namespace {

const char kServerListPath[] = "velgrim_load_servers.php";
const int kFieldsPerServer = 6;
// A load of this or more never wins.
const int32_t kLoadLimit = 1000000;
// Servers in this state or above are not eligible.
const int32_t kStateLimit = 15;

int32_t FieldNumber(const HEAP_STR& field)
{
    const char* text = field.Get() != nullptr ? field.Get() : "";
    return ReadWrappingDecimal(text, text + std::strlen(text));
}

// The first bytes of an answer, as a message can show them (no control characters).
std::string ShownStart(const char* body, int size)
{
    const int kShown = 32;
    std::string text;
    for (int i = 0; i < size && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(body[i]);
        if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02x", c);
            text += hex;
        }
    }
    return size > kShown ? text + "..." : text;
}

} // namespace

void ParseArgServer(PTR_ARRAY<HEAP_STR>* fields, const char* text)
{
    RX_GUARD_BEGIN
    if (text == nullptr)
        return;
    const size_t length = std::strlen(text);
    // Room for every field first: the array grows one element at a time otherwise.
    uint32_t count = 0;
    for (size_t i = 0; i < length; ++i)
        count += text[i] == ';';
    fields->Reserve(fields->Count() + count + 1);
    std::string field;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != ';') {
            field.push_back(text[i]);
            continue;
        }
        HEAP_STR copy(field.c_str());
        fields->Push(copy);
        field.clear();
    }
    RX_GUARD_END("ParseLine")
}

bool IsAllDigits(const char* text)
{
    if (text == nullptr)
        return false;
    for (const char* p = text; *p != '\0'; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

void SelectServer(const PTR_ARRAY<HEAP_STR>& fields, PTR_ARRAY<SERVER_INFO>* list, HEAP_STR* address,
                  int32_t* port, std::vector<SERVER_ENDPOINT>* others)
{
    list->Resize(fields.Count() / kFieldsPerServer);
    if (fields.Count() == 0 || !IsAllDigits(fields[0].Get()))
        return;
    int32_t best = kLoadLimit;
    uint32_t chosen = list->Count();
    std::vector<uint32_t> eligible;
    for (uint32_t i = 0; i < list->Count(); ++i) {
        SERVER_INFO& entry = (*list)[i];
        const uint32_t first = kFieldsPerServer * i + 1;
        entry.address = fields[first];
        entry.port = FieldNumber(fields[first + 1]);
        entry.load = FieldNumber(fields[first + 2]);
        entry.state = FieldNumber(fields[first + 3]);
        if (entry.state < kStateLimit && entry.load < kLoadLimit)
            eligible.push_back(i);
        if (entry.state < kStateLimit && entry.load < best) {
            best = entry.load;
            chosen = i;
            address->Assign(entry.address.Get());
            *port = entry.port;
        }
    }
    if (others == nullptr)
        return;
    // The same rule orders the rest: a stable sort by load keeps the list's order on ties.
    std::stable_sort(eligible.begin(), eligible.end(),
                     [list](uint32_t a, uint32_t b) { return (*list)[a].load < (*list)[b].load; });
    for (uint32_t i : eligible) {
        if (i != chosen) {
            const SERVER_INFO& entry = (*list)[i];
            others->push_back({entry.address.Get() != nullptr ? entry.address.Get() : "", entry.port});
        }
    }
}

void QueryServerList()
{
    QueryServerList(VELGRIM_WEB_HOST, VELGRIM_WEB_PORT);
}

void QueryServerList(const char* host, int port)
{
    g_serverListProblem.clear();
    g_serverAddress.Assign(VELGRIM_FALLBACK_SERVER);
    g_serverPort = kFallbackServerPort;
    g_serverCandidates.assign(1, {VELGRIM_FALLBACK_SERVER, kFallbackServerPort});

    // The browser holds the whole response (128 KB): on the heap, not the stack.
    auto browser = std::make_unique<RX_HTTP_BROWSER>();
    int bodySize = 0;
    const char* body = HttpGetBody(*browser, host, port, kServerListPath, &bodySize);
    const std::string where = std::string(host) + ":" + std::to_string(port) + "/" + kServerListPath;
    if (body == nullptr) {
        g_serverListProblem = where + " gave no answer";
        return;
    }
    PTR_ARRAY<HEAP_STR> fields;
    fields.Init();
    ParseArgServer(&fields, body);
    if (fields.Count() == 0 || !IsAllDigits(fields[0].Get()))
        g_serverListProblem = where + " is not a server list: it begins '" + ShownStart(body, bodySize) + "'";
    std::vector<SERVER_ENDPOINT> others;
    SelectServer(fields, &g_serverList, &g_serverAddress, &g_serverPort, &others);
    fields.Free();
    g_serverCandidates.assign(1, {g_serverAddress.Get(), g_serverPort});
    g_serverCandidates.insert(g_serverCandidates.end(), others.begin(), others.end());
}
