#include "progress_bar.h"

#include "platform/console.h"

namespace {

constexpr int kBarWidth = 30;
constexpr size_t kNameWidth = 40;

} // namespace

PROGRESS_BAR::PROGRESS_BAR(FILE* out) : m_pOut(out), m_bActive(IsTerminal(out)) {}

void PROGRESS_BAR::Show(const std::string& name, int percent)
{
    if (!m_bActive)
        return;
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;
    const int filled = percent * kBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    std::string shown = name;
    if (shown.size() > kNameWidth)
        shown = "..." + shown.substr(shown.size() - (kNameWidth - 3));
    std::fprintf(m_pOut, "\r[%s] %3d%%  %-*s", bar.c_str(), percent, static_cast<int>(kNameWidth), shown.c_str());
    std::fflush(m_pOut);
    m_bShown = true;
}

void PROGRESS_BAR::Clear()
{
    if (!m_bActive || !m_bShown)
        return;
    std::fprintf(m_pOut, "\r%*s\r", kBarWidth + 8 + static_cast<int>(kNameWidth), "");
    std::fflush(m_pOut);
    m_bShown = false;
}
