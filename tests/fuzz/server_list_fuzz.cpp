// The server list as the web host might send it, any bytes: cutting it into fields and
// selecting a server must stay in bounds and keep the selection rule.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher/server_list.h"

namespace {

const char kFallback[] = "fallback";

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The body reaches the parser as a NUL-terminated text.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* body = text.c_str();

    PTR_ARRAY<HEAP_STR> fields;
    fields.Init();
    ParseArgServer(&fields, body);

    // The fields joined with their ";" give back the text up to its last ";".
    const char* last = std::strrchr(body, ';');
    std::string joined;
    for (uint32_t i = 0; i < fields.Count(); ++i) {
        Check(fields[i].Get() != nullptr);
        joined += fields[i].Get();
        joined += ';';
    }
    Check(joined == (last != nullptr ? std::string(body, static_cast<size_t>(last - body) + 1) : std::string()));

    PTR_ARRAY<SERVER_INFO> list;
    list.Init();
    HEAP_STR address(kFallback);
    int32_t port = 6527;
    SelectServer(fields, &list, &address, &port);
    Check(list.Count() == fields.Count() / 6);

    const bool header = fields.Count() > 0 && IsAllDigits(fields[0].Get());
    // The expected winner: the first eligible entry with the lowest load below 1000000.
    int winner = -1;
    int32_t best = 1000000;
    if (header) {
        for (uint32_t i = 0; i < list.Count(); ++i) {
            Check(std::strcmp(list[i].address.Get(), fields[6 * i + 1].Get()) == 0);
            if (list[i].state < 15 && list[i].load < best) {
                best = list[i].load;
                winner = static_cast<int>(i);
            }
        }
    }
    if (winner < 0) {
        Check(std::strcmp(address.Get(), kFallback) == 0 && port == 6527);
    } else {
        Check(std::strcmp(address.Get(), list[winner].address.Get()) == 0);
        Check(port == list[winner].port);
    }
    return 0;
}
