// What one run of the launcher came to, said in one line when it ends: the server list,
// the update, then whether the game (or the new updater) starts. The console prints it
// last on standard error; the window keeps it in the trace log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class RUN_OUTCOME {
public:
    enum KIND {
        NOTHING,         // no update was looked for
        NO_SERVER,       // no update server answered its versions
        REFUSED,         // the release could not be verified
        UP_TO_DATE,      // the servers offer what is installed
        UPDATED,         // the patch is applied
        UPDATER_ARRIVED, // a new updater arrived and takes over
        FAILED,          // the update failed: the step and the file
        CANCELLED,       // the player chose Cancel
        LEFT_TO_OTHER,   // another launcher is at work in this folder
    };

    // The web host's list could not be read (why); the fallback server is asked instead.
    void ListProblem(const std::string& why) { m_strList = why; }
    // A server of the run that did not answer, and why.
    void Tried(const std::string& server, const std::string& why) { m_Tried.push_back(server + " " + why); }
    // The update's end: kind and its detail (the version, or what failed).
    void Set(KIND kind, const std::string& detail = std::string());
    void SetVersion(KIND kind, uint32_t version) { Set(kind, std::to_string(version)); }
    KIND Kind() const { return m_Kind; }

    // The closing line when `next` ("the game", "the new updater") is being started.
    std::string Starting(const char* next) const;
    // The closing line when nothing is started (another launcher will).
    std::string Ending() const;
    // The closing line when program could not be started (why: the system's words).
    std::string NotStarted(const char* program, const std::string& why) const;

    void Reset() { *this = RUN_OUTCOME(); }

private:
    std::string Update() const;

    KIND m_Kind = NOTHING;
    std::string m_strDetail;
    std::string m_strList;
    std::vector<std::string> m_Tried;
};

extern RUN_OUTCOME g_runOutcome;

// Shows the closing line. Each front end provides it.
void ShowRunOutcome(const char* line);
