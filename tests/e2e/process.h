#pragma once
// Child processes of an end-to-end test: the X server, the program under test, the simulator
// and the X tools. Every child dies with the test (parent-death signal), and a Child ends its
// process when it goes out of scope, so a failing test leaves nothing running.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::e2e {

// Variables to set (a value) or remove (no value) in a child's environment.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

struct SpawnOptions {
    std::vector<std::string> argv;
    EnvChanges env;
    std::string outputFile;  // stdout and stderr go here; empty: /dev/null
    int keepFd = -1;         // a descriptor the child keeps open (Xvfb's -displayfd)
};

class Child {
  public:
    Child() = default;
    explicit Child(const SpawnOptions& options);  // throws std::runtime_error
    ~Child() { stop(); }
    Child(Child&& other) noexcept : m_pid(other.m_pid), m_status(other.m_status) {
        other.m_pid = -1;
    }
    Child& operator=(Child&& other) noexcept;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }
    bool running();
    // Waits for the process to end by itself; its exit status (128 + n for signal n), or
    // nothing when it still runs after `timeout`.
    std::optional<int> waitExit(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL after a second; reaps the process.
    void stop();

  private:
    pid_t m_pid = -1;
    int m_status = -1;  // exit status once reaped
};

struct RunResult {
    int status = -1;  // exit status; -1 when the time ran out (the process is killed)
    std::string output;
};

// Runs a program to its end and collects its standard output.
RunResult run(const std::vector<std::string>& argv, const EnvChanges& env,
              std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The program's full path if it is on PATH.
std::optional<std::string> findProgram(const std::string& name);

}  // namespace kestrel::e2e
