// A progress bar on the console: redrawn in place on a terminal, a line per tenth otherwise.
#pragma once

#include <string>

class CONSOLE_PROGRESS {
public:
    CONSOLE_PROGRESS(const char* label, bool terminal);
    // Shows percent (0 to 100) and, when given, what is at work (a file's name) after it;
    // repeats and steps back are ignored, unless the detail changed (on a terminal).
    void Show(int percent, const char* detail = nullptr);
    // Ends the bar's line.
    void End();
    // Ends the bar's line for a message; the next Show draws the bar afresh.
    void Interrupt();

private:
    const char* m_pLabel;
    bool m_bTerminal;
    int m_iShown = -1;
    std::string m_strDetail;
    size_t m_uWidth = 0; // of the line last drawn, to blank what a shorter one leaves
    bool m_bEnded = false;
};
