#include "support/trace_capture.h"

std::vector<std::string> TRACE_CAPTURE::LogLines() const
{
    std::vector<std::string> lines;
    for (const TRACE_ENTRY& e : m_Entries)
        if (!e.isError)
            lines.push_back(e.text);
    return lines;
}

std::vector<std::string> TRACE_CAPTURE::ErrorTexts() const
{
    std::vector<std::string> texts;
    for (const TRACE_ENTRY& e : m_Entries)
        if (e.isError)
            texts.push_back(e.text);
    return texts;
}

bool TRACE_CAPTURE::HasError(const std::string& text) const
{
    for (const TRACE_ENTRY& e : m_Entries)
        if (e.isError && e.text == text)
            return true;
    return false;
}
