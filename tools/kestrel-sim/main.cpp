// kestrel-sim: the instrument simulator's command-line program. Everything it plays comes from
// the library beside it; this file only reads the options, opens the device and handles
// signals.

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iostream>
#include <sstream>

#include "kestrel-sim/command_line.h"
#include "kestrel-sim/kraken_server.h"
#include "kestrel-sim/pty_port.h"
#include "kestrel-sim/runner.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void onSignal(int) {
    g_stop = 1;
}

void handleSignals() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no restart: a sleep or poll returns at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

class StdoutSink : public kestrel::sim::ByteSink {
  public:
    bool deliver(std::string_view bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR && g_stop == 0) {
                continue;
            } else {
                return false;  // the reader has gone (EPIPE) or we are told to stop
            }
        }
        return true;
    }
};

std::unique_ptr<kestrel::sim::LineSource> makeSource(const kestrel::sim::CommandLine& options,
                                                     std::string& error) {
    using namespace kestrel::sim;
    if (options.replayFile.empty()) {
        return std::make_unique<GeneratedSource>(options.generator);
    }
    std::ifstream in(options.replayFile, std::ios::binary);
    if (!in) {
        error = "cannot read " + options.replayFile;
        return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    auto source = std::make_unique<ReplaySource>(text.str(), options.replay);
    if (source->lineCount() == 0) {
        error = options.replayFile + " holds no lines to replay";
        return nullptr;
    }
    return source;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel::sim;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    ParsedCommandLine parsed = parseCommandLine(args, std::getenv("HOME"));
    if (!parsed.options) {
        std::cerr << "kestrel-sim: " << parsed.error << "\n";
        return 2;
    }
    CommandLine& options = *parsed.options;
    if (options.help) {
        std::cout << helpText();
        return 0;
    }
    if (options.wallClock) {
        options.generator.startEpochSeconds =
            std::chrono::duration_cast<std::chrono::seconds>(
                std::chrono::system_clock::now().time_since_epoch())
                .count();
    }
    std::string error;
    std::unique_ptr<LineSource> source = makeSource(options, error);
    if (!source) {
        std::cerr << "kestrel-sim: " << error << "\n";
        return 1;
    }
    std::ofstream record;
    RunSettings run;
    run.paced = !options.fast;
    if (!options.recordFile.empty()) {
        record.open(options.recordFile, std::ios::binary | std::ios::trunc);
        if (!record) {
            std::cerr << "kestrel-sim: cannot write " << options.recordFile << "\n";
            return 1;
        }
        run.record = &record;
    }
    std::unique_ptr<KrakenServer> kraken;
    if (options.krakenPort >= 0) {
        kraken = KrakenServer::open(options.krakenPort, error);
        if (!kraken) {
            std::cerr << "kestrel-sim: " << error << "\n";
            return 1;
        }
        std::cerr << "kestrel-sim: Kraken on http://127.0.0.1:" << kraken->port()
                  << std::string(kDoaPath) << std::endl;
    }
    handleSignals();
    Scheduler scheduler(std::move(source), options.schedule);
    // The line's sink, serving the Kraken in its waits when there is one.
    const auto play = [&](ByteSink& line) {
        if (!kraken) {
            return runSimulation(scheduler, line, run, &g_stop);
        }
        ServingSink serving(line, *kraken);
        return runSimulation(scheduler, serving, run, &g_stop);
    };
    RunSummary summary;
    if (options.toStdout) {
        StdoutSink sink;
        summary = play(sink);
    } else {
        std::unique_ptr<PtyPort> port = PtyPort::open(options.folder, options.port, error);
        if (!port) {
            std::cerr << "kestrel-sim: " << error << "\n";
            return 1;
        }
        std::cerr << "kestrel-sim: " << port->linkPath() << " -> " << port->devicePath() << "\n";
        PtySink sink(*port, std::cerr, options.keepLinkOnPull);
        summary = play(sink);
        std::cerr << "kestrel-sim: " << sink.droppedBytes()
                  << " bytes dropped while nobody had the device open\n";
    }
    std::cerr << "kestrel-sim: " << summary.lines << " lines, " << summary.bytes << " bytes in "
              << static_cast<double>(summary.endUs) / 1e6 << " s of simulated time"
              << (summary.interrupted ? " (stopped)" : "") << "\n";
    return summary.sinkGone && !options.toStdout ? 1 : 0;
}
