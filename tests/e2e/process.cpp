#include "e2e/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;  // NOLINT(readability-redundant-declaration): needs _GNU_SOURCE

namespace kestrel::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// Everything execve needs, prepared before fork: between fork and exec a process with threads
// may only call async-signal-safe functions, so nothing may allocate there.
struct ExecImage {
    std::string path;
    std::vector<std::string> args;
    std::vector<std::string> envs;
    std::vector<char*> argv;
    std::vector<char*> envp;

    ExecImage(const std::vector<std::string>& command, const EnvChanges& changes) {
        if (command.empty()) {
            throw std::runtime_error("no program to start");
        }
        const std::optional<std::string> found = findProgram(command[0]);
        if (!found) {
            throw std::runtime_error(command[0] + " is not on PATH");
        }
        path = *found;
        args = command;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (!changes.contains(name)) {
                envs.push_back(entry);
            }
        }
        for (const auto& [name, value] : changes) {
            if (value) {
                envs.push_back(name + "=" + *value);
            }
        }
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        for (std::string& e : envs) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
    }
};

// In the child: die with the parent, take the output descriptors, run the program.
[[noreturn]] void becomeChild(const ExecImage& image, pid_t parent, int outFd, int errFd,
                              int keepFd) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(127);
    }
    ::setpgid(0, 0);  // the test's terminal signals are for the test, not for its children
    if (outFd >= 0) {
        ::dup2(outFd, STDOUT_FILENO);
    }
    if (errFd >= 0) {
        ::dup2(errFd, STDERR_FILENO);
    }
    if (keepFd >= 0) {
        ::fcntl(keepFd, F_SETFD, 0);
    }
    ::execve(image.path.c_str(), image.argv.data(), image.envp.data());
    ::_exit(127);
}

int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    return WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : -1;
}

}  // namespace

Child::Child(const SpawnOptions& options) {
    const ExecImage image(options.argv, options.env);
    const std::string outPath = options.outputFile.empty() ? "/dev/null" : options.outputFile;
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) {
        throw std::runtime_error("cannot open " + outPath + ": " + std::strerror(errno));
    }
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        becomeChild(image, parent, out, out, options.keepFd);
    }
    ::close(out);
    if (m_pid < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
}

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        stop();
        m_pid = other.m_pid;
        m_status = other.m_status;
        other.m_pid = -1;
    }
    return *this;
}

bool Child::running() {
    return !waitExit(std::chrono::milliseconds(0)).has_value();
}

std::optional<int> Child::waitExit(std::chrono::milliseconds timeout) {
    if (m_pid <= 0) {
        return m_status;
    }
    const Clock::time_point end = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid || (r < 0 && errno != EINTR)) {
            m_status = r == m_pid ? statusOf(status) : -1;
            m_pid = -1;
            return m_status;
        }
        if (Clock::now() >= end) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void Child::stop() {
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGTERM);
    if (!waitExit(std::chrono::seconds(1))) {
        ::kill(m_pid, SIGKILL);
        waitExit(std::chrono::seconds(5));
    }
}

RunResult run(const std::vector<std::string>& argv, const EnvChanges& env,
              std::chrono::milliseconds timeout) {
    const ExecImage image(argv, env);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        becomeChild(image, parent, fds[1], -1, -1);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    RunResult result;
    const Clock::time_point end = Clock::now() + timeout;
    bool timedOut = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;  // time left is looked at again
        }
        char buf[65536];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n > 0) {
            result.output.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fds[0]);
    if (timedOut) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = timedOut ? -1 : statusOf(status);
    return result;
}

std::optional<std::string> findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return ::access(name.c_str(), X_OK) == 0 ? std::optional<std::string>(name) : std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t colon = dirs.find(':', start);
        const std::string dir =
            dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    return std::nullopt;
}

}  // namespace kestrel::e2e
