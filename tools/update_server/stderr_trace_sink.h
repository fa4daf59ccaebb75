// Sends the trace object's lines to standard error, each with the local time in front,
// so that the transport's lines and the server's own share one log.
#pragma once

#include "common/trace_log.h"

class STDERR_TRACE_SINK final : public TRACE_SINK {
public:
    void OnLog(const char* text) override;
    void OnError(const char* file, int line, const char* text) override;
};
