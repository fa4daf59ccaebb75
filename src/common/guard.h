// The common handler. A guarded method wraps its whole body:
//
//     bool NET_CLIENT::Connect(const char* host, unsigned short port)
//     {
//         RX_GUARD_BEGIN
//         ...
//         RX_GUARD_END("NET_CLIENT::Connect")
//     }
//
// Whatever the body throws is logged with the scope label and leaves as an RXExs.
#pragma once

#include "common/rx_exs.h"

#if defined(__GNUC__)
#define RX_FUNCTION_SIGNATURE __PRETTY_FUNCTION__
#else
#define RX_FUNCTION_SIGNATURE __FUNCTION__
#endif

// Handles the exception being caught; never returns.
[[noreturn]] void RxGuardFailure(const char* label, const char* file, int line, const char* signature);

// The qualified name ("NET_CLIENT::Connect") inside a compiler's function signature.
// Writes at most size - 1 characters to out and returns out.
char* RxQualifiedName(const char* signature, char* out, int size);

#define RX_GUARD_BEGIN try {
#define RX_GUARD_END(label)                                                   \
    }                                                                         \
    catch (...)                                                               \
    {                                                                         \
        RxGuardFailure(label, __FILE__, __LINE__, RX_FUNCTION_SIGNATURE);     \
    }
