#include "ui/console/console_progress.h"

#include <cstdio>

CONSOLE_PROGRESS::CONSOLE_PROGRESS(const char* label, bool terminal) : m_label(label), m_terminal(terminal) {}

void CONSOLE_PROGRESS::Show(int percent)
{
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;
    if (percent == m_shown)
        return;
    if (m_terminal) {
        const int width = 40;
        const int filled = percent * width / 100;
        char bar[width + 1];
        for (int i = 0; i < width; ++i)
            bar[i] = i < filled ? '#' : '-';
        bar[width] = '\0';
        std::printf("\r%s [%s] %3d%%", m_label, bar, percent);
    } else {
        // One line per tenth keeps a log readable.
        if (m_shown >= 0 && percent / 10 == m_shown / 10 && percent != 100)
            return;
        std::printf("%s: %d%%\n", m_label, percent);
    }
    m_shown = percent;
    std::fflush(stdout);
}

void CONSOLE_PROGRESS::End()
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_terminal && m_shown >= 0)
        std::printf("\n");
    std::fflush(stdout);
}
