#pragma once
// The team link's journal: one append-only text file per team, hunt and vehicle in the
// Kestrelmap folder, so that no plot is lost when the link or the program goes down. Each own
// plot or exclusion message is appended before it is published and marked when the broker
// acknowledges it; plots and exclusions received from the team are kept too, so a restarted
// program still knows them and recognises them when they come again. Lines are never rewritten. A
// line that is damaged (cut short by a crash, changed by hand) fails its check sum and is skipped
// and counted.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "team/team_message.h"

namespace kestrel::team {

struct JournalOwnPlot {
    TeamPlot plot;
    std::string payload;  // the exact bytes published, sent again unchanged
    bool acknowledged = false;
};

struct JournalOwnExclusion {
    TeamExclusion exclusion;
    std::string payload;  // the exact bytes published
    bool acknowledged = false;
};

struct JournalContents {
    std::vector<JournalOwnPlot> own;                 // in seq order
    std::vector<TeamPlot> received;                  // in order of arrival
    std::vector<JournalOwnExclusion> ownExclusions;  // in rev order
    std::vector<TeamExclusion> receivedExclusions;   // in order of arrival
    int64_t lastSeq = 0;
    int64_t lastRev = 0;  // of the own exclusions
    int damagedLines = 0;
};

// <folder>team_<team>+<hunt>+<vehicle>.journal, each name with every byte outside
// [A-Za-z0-9._-] written as %XX, so that any name makes one safe file name.
std::string journalPath(std::string_view folder, const TeamNames& names);

class TeamJournal {
  public:
    explicit TeamJournal(std::string path) : m_path(std::move(path)) {}
    ~TeamJournal();
    TeamJournal(const TeamJournal&) = delete;
    TeamJournal& operator=(const TeamJournal&) = delete;

    // What the file holds; empty when it does not exist or cannot be read.
    JournalContents load() const;

    // Each returns false when the line could not be written (the caller goes on without it).
    bool appendOwn(const TeamPlot& plot, const std::string& payload);
    bool appendAcknowledged(int64_t seq);
    bool appendReceived(const TeamPlot& plot);
    bool appendOwnExclusion(const TeamExclusion& exclusion, const std::string& payload);
    bool appendExclusionAcknowledged(int64_t rev);
    bool appendReceivedExclusion(const TeamExclusion& exclusion);

    const std::string& path() const { return m_path; }
    // Why the last append failed, as the system put it.
    const std::string& lastError() const { return m_lastError; }

  private:
    bool appendLine(const std::string& line);

    std::string m_path;
    std::string m_lastError;
    std::FILE* m_file = nullptr;
};

}  // namespace kestrel::team
