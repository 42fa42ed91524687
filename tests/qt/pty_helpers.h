#pragma once
// A pseudo-terminal that stands in for a serial device in tests: the test writes on the master
// what an instrument would send, and the program opens the slave through a `COMn` link in a
// temporary Kestrelmap folder. Closing the master makes the device vanish, as a pulled USB
// cable does.

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace kestrel::test {

class Pty {
  public:
    // Opens a new pseudo-terminal; its slave is left closed for the program to open.
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0) {
            m_master = -1;
            return;
        }
        m_slavePath = name;
        ::close(slave);
        ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }

    // Writes every byte on the master (the instrument's side); false on failure.
    bool write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            bytes.remove_prefix(size_t(n));
        }
        return true;
    }

    // The device vanishes: the slave side sees a hang-up.
    void closeMaster() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

  private:
    int m_master = -1;
    std::string m_slavePath;
};

// Points `<folder>/COM<port>` at `target`, replacing any entry there in one rename, so the
// program never sees the link missing. `folder` ends with a separator.
inline bool linkPort(const std::string& folder, int port, const std::string& target) {
    const std::string link = folder + "COM" + std::to_string(port);
    const std::string temp = link + ".new";
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    std::filesystem::create_symlink(target, temp, ec);
    if (ec) {
        return false;
    }
    return std::rename(temp.c_str(), link.c_str()) == 0;
}

}  // namespace kestrel::test
