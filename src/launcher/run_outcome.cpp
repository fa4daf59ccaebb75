#include "launcher/run_outcome.h"

RUN_OUTCOME g_runOutcome;

void RUN_OUTCOME::Set(KIND kind, const std::string& detail)
{
    m_Kind = kind;
    m_strDetail = detail;
}

std::string RUN_OUTCOME::Update() const
{
    std::string text;
    if (!m_strList.empty())
        text = "the server list could not be read (" + m_strList + "); ";
    switch (m_Kind) {
    case NOTHING:
        return text + (m_strDetail.empty() ? "no update looked for" : m_strDetail);
    case NO_SERVER: {
        std::string tried;
        for (const std::string& t : m_Tried)
            tried += (tried.empty() ? "" : ", ") + t;
        return text + "no update server answered (tried " + (tried.empty() ? "none" : tried) + ")";
    }
    case REFUSED:
        return text + "the update could not be verified (" + m_strDetail + ")";
    case UP_TO_DATE:
        return text + "already up to date (version " + m_strDetail + ")";
    case UPDATED:
        return text + "updated to " + m_strDetail;
    case UPDATER_ARRIVED:
        return text + "a new updater arrived (version " + m_strDetail + ")";
    case FAILED:
        return text + "the update failed: " + m_strDetail;
    case CANCELLED:
        return text + "the update was cancelled";
    case LEFT_TO_OTHER:
        return text + "another launcher is at work in this folder";
    }
    return text;
}

std::string RUN_OUTCOME::Starting(const char* next) const
{
    return Update() + "; starting " + next;
}

std::string RUN_OUTCOME::Ending() const
{
    return Update() + "; it starts the game";
}

std::string RUN_OUTCOME::NotStarted(const char* program, const std::string& why) const
{
    return Update() + "; the game could not be started: " + program + ": " + why;
}
