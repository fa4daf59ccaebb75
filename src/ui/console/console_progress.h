// A progress bar on the console: redrawn in place on a terminal, a line per tenth otherwise.
#pragma once

class CONSOLE_PROGRESS {
public:
    CONSOLE_PROGRESS(const char* label, bool terminal);
    // Shows percent (0 to 100); repeats and steps back are ignored.
    void Show(int percent);
    // Ends the bar's line.
    void End();
    // Ends the bar's line for a message; the next Show draws the bar afresh.
    void Interrupt();

private:
    const char* m_pLabel;
    bool m_bTerminal;
    int m_iShown = -1;
    bool m_bEnded = false;
};
