#include "ui/console/console_progress.h"

#include <cstdio>

CONSOLE_PROGRESS::CONSOLE_PROGRESS(const char* label, bool terminal) : m_pLabel(label), m_bTerminal(terminal) {}

void CONSOLE_PROGRESS::Show(int percent)
{
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;
    if (percent == m_iShown)
        return;
    if (m_bTerminal) {
        const int width = 40;
        const int filled = percent * width / 100;
        char bar[width + 1];
        for (int i = 0; i < width; ++i)
            bar[i] = i < filled ? '#' : '-';
        bar[width] = '\0';
        std::printf("\r%s [%s] %3d%%", m_pLabel, bar, percent);
    } else {
        // One line per tenth keeps a log readable.
        if (m_iShown >= 0 && percent / 10 == m_iShown / 10 && percent != 100)
            return;
        std::printf("%s: %d%%\n", m_pLabel, percent);
    }
    m_iShown = percent;
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
    std::fflush(stdout);
}
