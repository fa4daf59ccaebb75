// Captures the trace object's lines for the lifetime of the object.
#pragma once

#include <string>
#include <vector>

#include "common/trace_log.h"

struct TRACE_ENTRY {
    bool isError = false;
    std::string file;
    int line = 0;
    std::string text;
};

class TRACE_CAPTURE final : public TRACE_SINK {
public:
    TRACE_CAPTURE() : m_pPrevious(g_trace->SetSink(this)) {}
    ~TRACE_CAPTURE() override { g_trace->SetSink(m_pPrevious); }

    void OnLog(const char* text) override { m_Entries.push_back({false, "", 0, text}); }
    void OnError(const char* file, int line, const char* text) override
    {
        m_Entries.push_back({true, file, line, text});
    }

    // The texts of the Log lines, in order.
    std::vector<std::string> LogLines() const;
    // The texts of the Error lines, in order.
    std::vector<std::string> ErrorTexts() const;
    bool HasError(const std::string& text) const;

    std::vector<TRACE_ENTRY> m_Entries;

private:
    TRACE_SINK* m_pPrevious;
};
