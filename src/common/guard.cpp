#include "common/guard.h"

#include <cstring>

#include "common/trace_log.h"

namespace {

const char kDashes[] = "---------------------------------------------------------\n";

void LogFailureLine(const char* label, const char* file, int line, const char* signature)
{
    char name[256];
    RxQualifiedName(signature, name, sizeof(name));
    g_trace->Log("%s\t| file:%s,\tline:%d\t\tfunc:%s\n", label, file, line, name);
}

} // namespace

char* RxQualifiedName(const char* signature, char* out, int size)
{
    if (size <= 0)
        return out;
    out[0] = '\0';
    if (signature == nullptr)
        return out;
    // "bool NET_CLIENT::Connect(const char*, short unsigned int)": the name ends at the
    // parameter list and starts after the last blank before it (the return type).
    // clang spells "(anonymous namespace)::", which is part of the name.
    const char* end = signature;
    for (;;) {
        end = std::strchr(end, '(');
        if (end == nullptr || std::strncmp(end, "(anonymous namespace)", 21) != 0)
            break;
        end += 21;
    }
    if (end == nullptr)
        end = signature + std::strlen(signature);
    const char* begin = end;
    int depth = 0;
    while (begin > signature) {
        const char c = begin[-1];
        if (c == '>' || c == ')')
            ++depth;
        else if (c == '<' || c == '(')
            --depth;
        else if (c == ' ' && depth == 0)
            break;
        --begin;
    }
    int n = static_cast<int>(end - begin);
    if (n > size - 1)
        n = size - 1;
    std::memcpy(out, begin, n);
    out[n] = '\0';
    return out;
}

void RxGuardFailure(const char* label, const char* file, int line, const char* signature)
{
    try {
        throw;
    } catch (const RXExs&) {
        LogFailureLine(label, file, line, signature);
        throw;
    } catch (const char* text) {
        g_trace->Log("User Rised Exception\n");
        g_trace->Log("%s", kDashes);
        LogFailureLine(label, file, line, signature);
        throw RXExs(text);
    } catch (...) {
        g_trace->Log("System Rised Exception");
        g_trace->Log("%s", kDashes);
        LogFailureLine(label, file, line, signature);
        throw RXExs("unknown");
    }
}
