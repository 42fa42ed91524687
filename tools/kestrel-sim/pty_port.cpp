#include "kestrel-sim/pty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>

namespace kestrel::sim {
namespace {

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string readLink(const std::string& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

// Puts the device into raw mode (no echo, no CR to LF, no line editing) once, from our side,
// so that bytes written before the program sets its own line settings arrive unchanged. The
// settings stay with the pseudo-terminal after we close the device again.
bool makeRaw(const std::string& device, std::string& error) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errnoText("cannot open " + device);
        return false;
    }
    termios t{};
    bool ok = ::tcgetattr(fd, &t) == 0;
    if (ok) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B4800);
        ::cfsetospeed(&t, B4800);
        t.c_cflag |= CLOCAL | CREAD;
        ok = ::tcsetattr(fd, TCSANOW, &t) == 0;
    }
    if (!ok) {
        error = errnoText("cannot set line settings of " + device);
    }
    ::tcflush(fd, TCIOFLUSH);
    ::close(fd);
    return ok;
}

}  // namespace

std::unique_ptr<PtyPort> PtyPort::open(const std::string& folder, int port, std::string& error) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "the folder " + folder +
                " does not exist (Kestrelmap does not create it either; make it or pass --folder)";
        return nullptr;
    }
    std::unique_ptr<PtyPort> p(new PtyPort(folder + "/COM" + std::to_string(port)));
    if (::lstat(p->m_linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = p->m_linkPath + " exists and is not a symbolic link; not replacing it";
            return nullptr;
        }
        const std::string target = readLink(p->m_linkPath);
        if (target.rfind("/dev/pts/", 0) != 0) {
            p->m_previousTarget = target;
        }
    }
    if (!p->plugIn(error)) {
        return nullptr;
    }
    return p;
}

PtyPort::~PtyPort() {
    if (!plugged()) {
        removeLink();  // a link left dangling by the last pull
    }
    unplug();
    if (!m_previousTarget.empty()) {
        struct stat st {};
        // Best effort: a destructor has no one to report a failed restore to.
        if (::lstat(m_linkPath.c_str(), &st) != 0 &&
            ::symlink(m_previousTarget.c_str(), m_linkPath.c_str()) != 0) {
            return;
        }
    }
}

bool PtyPort::plugIn(std::string& error) {
    if (plugged()) {
        return true;
    }
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = errnoText("cannot open a pseudo-terminal");
        return false;
    }
    const char* name = nullptr;
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        (name = ::ptsname(master)) == nullptr) {
        error = errnoText("cannot prepare the pseudo-terminal");
        ::close(master);
        return false;
    }
    m_devicePath = name;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    if (!makeRaw(m_devicePath, error)) {
        ::close(master);
        return false;
    }
    m_master = master;
    if (!makeLink(error)) {
        ::close(m_master);
        m_master = -1;
        return false;
    }
    return true;
}

bool PtyPort::makeLink(std::string& error) {
    struct stat st {};
    if (::lstat(m_linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = m_linkPath + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    // A new link under a temporary name, renamed over the old one: the name never points
    // nowhere in between.
    const std::string temp = m_linkPath + ".kestrel-sim." + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(m_devicePath.c_str(), temp.c_str()) != 0) {
        error = errnoText("cannot create " + temp);
        return false;
    }
    if (::rename(temp.c_str(), m_linkPath.c_str()) != 0) {
        error = errnoText("cannot link " + m_linkPath);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void PtyPort::removeLink() {
    // Only our own link: someone may have put another one there meanwhile.
    if (!m_devicePath.empty() && readLink(m_linkPath) == m_devicePath) {
        ::unlink(m_linkPath.c_str());
    }
}

void PtyPort::unplug(bool keepLink) {
    if (!plugged()) {
        return;
    }
    if (!keepLink) {
        removeLink();
    }
    ::close(m_master);
    m_master = -1;
}

bool PtyPort::listening() const {
    if (!plugged()) {
        return false;
    }
    pollfd p{m_master, POLLOUT, 0};
    // With nobody holding the device open, the master side reports a hang-up.
    return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}

std::size_t PtyPort::write(std::string_view bytes) {
    if (!listening()) {
        return bytes.size();
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // full (the program is not reading) or gone: the rest is lost
        }
    }
    return bytes.size() - done;
}

void PtyPort::wait(std::int64_t us) {
    const timespec span{static_cast<time_t>(us / 1'000'000),
                        static_cast<long>(us % 1'000'000) * 1000};
    if (!plugged()) {
        ::nanosleep(&span, nullptr);
        return;
    }
    pollfd p{m_master, POLLIN, 0};
    if (::ppoll(&p, 1, &span, nullptr) > 0 && (p.revents & POLLIN) != 0) {
        char sink[256];
        while (::read(m_master, sink, sizeof sink) > 0) {
        }
    } else if (p.revents & POLLHUP) {
        // Nobody listens: the hang-up makes poll return at once, so sleep the span instead.
        ::nanosleep(&span, nullptr);
    }
}

bool PtySink::deliver(std::string_view bytes) {
    m_dropped += static_cast<std::int64_t>(m_port.write(bytes));
    return true;
}

bool PtySink::cableOut() {
    m_log << "kestrel-sim: cable pulled: " << m_port.linkPath()
          << (m_keepLinkOnPull ? " left pointing nowhere" : " removed") << std::endl;
    m_port.unplug(m_keepLinkOnPull);
    return true;
}

bool PtySink::cableBack() {
    std::string error;
    if (!m_port.plugIn(error)) {
        m_log << "kestrel-sim: cannot plug the cable back in: " << error << std::endl;
        return false;
    }
    m_log << "kestrel-sim: cable back: " << m_port.linkPath() << " -> " << m_port.devicePath()
          << std::endl;
    return true;
}

}  // namespace kestrel::sim
