#pragma once
// The recorded hunt: every line received from any input, with its UTC receive time and the
// input's name, appended to <folder><stamp>_input.log ("time TAB input TAB line", CR LF), so a
// hunt can be replayed afterwards. It owns only its file and the lines not yet written; it
// never stops the hunt: a failed write is told once per run of failures and its lines are
// written with the next write that works.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/hunt_events.h"
#include "app/write_notice.h"
#include "platform/platform.h"

namespace kestrel::hunt_log {

// "2026-12-08T14:21:07.123Z": ISO 8601 in UTC with milliseconds.
std::string isoUtcMillisecondsText(int64_t utcMilliseconds);

// The log beside a hunt's map file: "<folder>120726_140509.kml" gives
// "<folder>120726_140509_input.log".
std::string inputLogPath(const std::string& mapFileName);

class InputLog : public HuntObserver {
  public:
    // Lines held back while the file fails; beyond this the oldest quarter is dropped.
    static constexpr size_t kMaxPendingBytes = 1 << 20;

    InputLog(TextFiles& files, MessageBox& messages, Clock& clock, std::string path);
    InputLog(const InputLog&) = delete;
    InputLog& operator=(const InputLog&) = delete;
    // Writes what is still held.
    ~InputLog() override;

    // The line is stamped at once and written after the event that brought it.
    void lineReceived(std::string_view input, std::string_view line) override;
    void eventHandled() override { flush(); }

    // Appends every held line. On failure they stay held; the first failure of a run tells the
    // operator.
    void flush();
    // The folder is known to be missing and start-up has said so: failures stay quiet until a
    // write works.
    void startQuiet() { m_notice.failQuietly(); }

    const std::string& path() const { return m_path; }
    size_t pendingBytes() const { return m_pending.size(); }

  private:
    TextFiles& m_files;
    WriteNotice m_notice;
    Clock& m_clock;
    std::string m_path;
    std::string m_pending;
};

}  // namespace kestrel::hunt_log
