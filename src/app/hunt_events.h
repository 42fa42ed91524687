#pragma once
// What the main window announces to the capabilities that attach beside it (the plot log, the
// fix estimate, the team link, the recorded hunt). The window knows them only as observers:
// it never waits for them and never reads anything back.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// One plot as it was made, from what the panel showed at that moment.
struct PlotRecord {
    int plotNumber = 0;                  // 1 to 99: the row of the plot table it filled
    int64_t utcMilliseconds = 0;         // system clock, milliseconds since 1970 (UTC)
    double latitudeDegrees = 0;          // signed (south negative), from the position digits
    double longitudeDegrees = 0;         // signed (west negative)
    std::optional<int> bearingDegrees;   // true bearing of the drawn line; none: no line drawn
    std::optional<int> relativeDegrees;  // the direction finder's relative bearing behind it
    std::optional<int> courseDegrees;    // from the GPS; none when the position was manual
    std::optional<int> speedKnots;       // likewise
    std::optional<int> quality;          // digit after "/" in the bearing line, when it had one
    bool positionFromGps = false;        // else hand-entered
    bool bearingFromDf = false;          // else hand-entered
    std::string headingFrom = "COG";     // what turned the relative bearing into a true one
};

class HuntObserver {
  public:
    virtual ~HuntObserver() = default;
    // Start-up has named the hunt (its files are <folder><stamp>...), loaded the settings and
    // written the empty map.
    virtual void huntStarted() {}
    // A plot was made and its row written (the hunt files have been rewritten or have failed).
    virtual void plotMade(const PlotRecord& plot) { (void)plot; }
    // A complete line arrived on an input ("LINE" for the shared serial line), without its
    // line end.
    virtual void lineReceived(std::string_view input, std::string_view line) {
        (void)input;
        (void)line;
    }
    // Any event has been handled: the panel may show a new position or bearing.
    virtual void eventHandled() {}
};

// "2026-12-08T14:21:07Z": ISO 8601 in UTC, whole seconds.
std::string isoUtcText(int64_t utcMilliseconds);
// The moment such a text names (fractions of a second are read too); none for any other text.
std::optional<int64_t> utcMillisecondsFromIso(std::string_view text);

}  // namespace kestrel
