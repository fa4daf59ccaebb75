// A one-line progress bar, redrawn in place, shown only when the output is a terminal.
#pragma once

#include <cstdio>
#include <string>

class PROGRESS_BAR {
public:
    explicit PROGRESS_BAR(FILE* out);

    bool Active() const { return m_bActive; }
    // Redraws the line: the bar, the percent and the name (its tail when too long).
    void Show(const std::string& name, int percent);
    // Erases the line, so that a message can be printed in its place.
    void Clear();

private:
    FILE* m_pOut;
    bool m_bActive;
    bool m_bShown = false;
};
