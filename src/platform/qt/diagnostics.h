#pragma once
// Diagnostics of the running program: one logging category a subsystem, all quiet unless asked
// for (QT_LOGGING_RULES="kestrel.*=true", or the command line's verbose switch), each line with
// its time. Nothing here changes what the program does.

#include <QLoggingCategory>
#include <string_view>

#include "app/hunt_events.h"

namespace kestrel::qt {

Q_DECLARE_LOGGING_CATEGORY(lcInput)        // kestrel.input: the serial port's life
Q_DECLARE_LOGGING_CATEGORY(lcPlot)         // kestrel.plot: plots made, the estimate's verdict
Q_DECLARE_LOGGING_CATEGORY(lcFiles)        // kestrel.files: failed writes, the folder
Q_DECLARE_LOGGING_CATEGORY(lcInstruments)  // kestrel.instruments: each line an input gives

// Puts the time in front of every message (a QT_MESSAGE_PATTERN in the environment wins).
void installDiagnostics();

// Logs what the main window announces: each plot made and each instrument line.
class HuntLog : public HuntObserver {
  public:
    void plotMade(const PlotRecord& plot) override;
    void lineReceived(std::string_view input, std::string_view line) override;
    // The fix estimate's verdict after a plot, in its own words: connect the estimator here.
    void estimateVerdict(std::string_view verdict);
};

}  // namespace kestrel::qt
