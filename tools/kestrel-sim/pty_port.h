#pragma once
// The far end of a simulated serial cable: a pseudo-terminal whose device is linked into the
// Kestrelmap folder as COMn, where the program looks for its port. Bytes written while nobody
// has the device open are dropped, as on a real line with no listener, so a program that opens
// the port late never reads a backlog. POSIX only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "kestrel-sim/runner.h"

namespace kestrel::sim {

class PtyPort {
  public:
    // Creates the pseudo-terminal and the link `folder`/COM`port`. An existing symbolic link
    // there is replaced (and put back on exit unless it named another pseudo-terminal, which is
    // a leftover of an earlier run); anything else there is refused. Null with `error` set on
    // failure.
    static std::unique_ptr<PtyPort> open(const std::string& folder, int port, std::string& error);
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // The device vanishes: the pseudo-terminal is closed and the link removed, or left behind
    // pointing nowhere (as an operator's link to a USB adapter is when the adapter is pulled).
    void unplug(bool keepLink = false);
    // A new pseudo-terminal, linked at the same name.
    bool plugIn(std::string& error);

    bool plugged() const { return m_master >= 0; }
    // Someone has the device open.
    bool listening() const;
    // Writes what it can without blocking; returns the number of bytes dropped (nobody
    // listening, or a reader too slow to keep the buffer from filling).
    std::size_t write(std::string_view bytes);
    // Waits up to `us` microseconds, reading and discarding anything the program writes.
    void wait(std::int64_t us);

    const std::string& linkPath() const { return m_linkPath; }
    const std::string& devicePath() const { return m_devicePath; }

  private:
    PtyPort(std::string linkPath) : m_linkPath(std::move(linkPath)) {}
    bool makeLink(std::string& error);
    void removeLink();

    std::string m_linkPath;
    std::string m_devicePath;
    std::string m_previousTarget;  // the link that stood there before us, to put back
    int m_master = -1;
};

// Runs a schedule into a PtyPort, reporting cable pulls on the given stream.
class PtySink : public ByteSink {
  public:
    PtySink(PtyPort& port, std::ostream& log, bool keepLinkOnPull = false)
        : m_port(port), m_log(log), m_keepLinkOnPull(keepLinkOnPull) {}
    bool deliver(std::string_view bytes) override;
    bool cableOut() override;
    bool cableBack() override;
    void wait(std::int64_t us) override { m_port.wait(us); }
    std::int64_t droppedBytes() const { return m_dropped; }

  private:
    PtyPort& m_port;
    std::ostream& m_log;
    bool m_keepLinkOnPull;
    std::int64_t m_dropped = 0;
};

}  // namespace kestrel::sim
