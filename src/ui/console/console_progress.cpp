#include "ui/console/console_progress.h"

#include <cstdio>

CONSOLE_PROGRESS::CONSOLE_PROGRESS(const char* label, bool terminal) : m_pLabel(label), m_bTerminal(terminal) {}

void CONSOLE_PROGRESS::Show(int percent, const char* detail)
{
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;
    const std::string what = detail != nullptr ? detail : "";
    if (percent == m_iShown && (what == m_strDetail || !m_bTerminal))
        return;
    if (m_bTerminal) {
        const int width = 40;
        const int filled = percent * width / 100;
        char bar[width + 1];
        for (int i = 0; i < width; ++i)
            bar[i] = i < filled ? '#' : '-';
        bar[width] = '\0';
        char head[128];
        std::snprintf(head, sizeof(head), "%s [%s] %3d%%", m_pLabel, bar, percent);
        std::string line = head;
        if (!what.empty())
            line += " " + what;
        const size_t drawn = line.size();
        if (line.size() < m_uWidth)
            line.append(m_uWidth - line.size(), ' ');
        std::printf("\r%s", line.c_str());
        m_uWidth = drawn;
    } else {
        // One line per tenth keeps a log readable.
        if (m_iShown >= 0 && percent / 10 == m_iShown / 10 && percent != 100)
            return;
        if (what.empty())
            std::printf("%s: %d%%\n", m_pLabel, percent);
        else
            std::printf("%s: %d%% %s\n", m_pLabel, percent, what.c_str());
    }
    m_iShown = percent;
    m_strDetail = what;
    std::fflush(stdout);
}

void CONSOLE_PROGRESS::End()
{
    if (m_bEnded)
        return;
    m_bEnded = true;
    if (m_bTerminal && m_iShown >= 0)
        std::printf("\n");
    std::fflush(stdout);
}

void CONSOLE_PROGRESS::Interrupt()
{
    if (m_bTerminal && m_iShown >= 0)
        std::printf("\n");
    m_iShown = -1;
    m_uWidth = 0;
    std::fflush(stdout);
}
