#pragma once
// One message per run of write failures of a file set: the first failure is told, later ones
// are not, and a successful write ends the run. The hunt's map files, the plot log, the input
// log, the estimate and team maps all follow this rule.

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kestrel {

class WriteNotice {
  public:
    // `consequence` completes the message, e.g. "The plots are kept in memory; the next plot
    // writes the log again."
    WriteNotice(MessageBox& messages, std::string what, std::string consequence)
        : m_messages(messages), m_what(std::move(what)), m_consequence(std::move(consequence)) {}

    // The outcome of one write. A failure at start-up is covered by start-up's own message about
    // the folder: `quietly` starts the run without telling.
    void report(bool written, const std::string& file, const std::string& reason,
                bool quietly = false) {
        if (written) {
            m_failing = false;
            return;
        }
        if (m_failing) {
            return;
        }
        m_failing = true;  // before the box: its event loop may run another failing write
        if (!quietly) {
            m_messages.show("The " + m_what + " " + file + " could not be written (" +
                                (reason.empty() ? "unknown error" : reason) + ").\n" +
                                m_consequence,
                            "Kestrelmap", MessageButtons::Ok, false);
        }
    }
    // A run of failures the operator has already heard of (start-up's own message, or a
    // folder the operator chose not to make): later failures stay quiet until a write works.
    void failQuietly() { m_failing = true; }
    bool failing() const { return m_failing; }

  private:
    MessageBox& m_messages;
    std::string m_what;
    std::string m_consequence;
    bool m_failing = false;
};

struct WriteFailure {
    std::string file;
    std::string reason;  // never empty: "unknown error" when the system gave none
};

// Writes `content` to each path in turn (a failing one does not keep the next from being
// written), reports the outcome to `notice` and returns the first failure, if any.
template <typename Paths>
std::optional<WriteFailure> writeAll(TextFiles& files, WriteNotice& notice, const Paths& paths,
                                     std::string_view content, bool quietly = false) {
    std::optional<WriteFailure> failure;
    for (const std::string& path : paths) {
        std::string error;
        if (!files.write(path, content, error) && !failure) {
            failure = WriteFailure{path, error.empty() ? "unknown error" : error};
        }
    }
    notice.report(!failure, failure ? failure->file : std::string(),
                  failure ? failure->reason : std::string(), quietly);
    return failure;
}

}  // namespace kestrel
