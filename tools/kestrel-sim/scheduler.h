#pragma once
// What the instruments say and when, on a simulated clock in milliseconds from the start: the
// line sources (the generated drive, or a replayed recording) and the scheduler that lays the
// cable pulls and silences over them and ends the run. Nothing here reads the wall clock.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrel-sim/random.h"
#include "kestrel-sim/vehicle.h"

namespace kestrel::sim {

// A Kraken event is no line: it is the answer the Kraken serves from then on (its text).
enum class EventKind { Line, CableOut, CableBack, Kraken };
enum class LineKind { Rmc, Bearing, Plot, Garbage, Replayed, Kraken };

// The direction finders' antennas follow the vehicle's turns late: a bearing is taken relative
// to the vehicle's heading of kTurnLagMs before, and while the vehicle turns, the bearing's
// noise has kTurnNoiseDegPerDegPerS more degrees of standard deviation for every degree a
// second of turn (the mean rate over the lag: 7.5 degrees more in a 15 degree a second turn).
inline constexpr std::int64_t kTurnLagMs = 600;
inline constexpr double kTurnNoiseDegPerDegPerS = 0.5;

struct SimEvent {
    std::int64_t atMs = 0;
    EventKind kind = EventKind::Line;
    LineKind lineKind = LineKind::Replayed;
    std::string text;  // the line without its end; every line is sent with CR LF after it
    // For generated lines, what was true when the line was formed:
    VehicleState vehicle;
    double trueBearingDeg = 0;  // bearing lines: from the vehicle to the transmitter
    bool wild = false;          // bearing lines: a wild bearing, unrelated to the transmitter
    bool fixValid = true;       // RMC lines: status A
    // Bearings (lines and Kraken answers): the heading the bearing is relative to (the
    // vehicle's of kTurnLagMs before, or of the moment without turn lag) and the standard
    // deviation of its noise.
    double antennaHeadingDeg = 0;
    double noiseSigmaDeg = 0;
};

// Repeating windows [k * everyMs, k * everyMs + forMs) for k = 1, 2, ...; none when everyMs is 0.
struct Outage {
    std::int64_t everyMs = 0;
    std::int64_t forMs = 0;
    bool covers(std::int64_t atMs) const;
};

struct KrakenSettings {
    bool on = false;
    std::int64_t frequencyHz = 146'520'000;
    // 0: one line. Otherwise a second line on this frequency, for a second transmitter
    // kSecondTxMiles from the first on kSecondTxBearingDeg.
    std::int64_t secondFrequencyHz = 0;
};
inline constexpr double kSecondTxMiles = 1.5;
inline constexpr double kSecondTxBearingDeg = 180;

struct GeneratorSettings {
    RouteSettings route;
    GeoPoint transmitter;
    std::int64_t startEpochSeconds = 0;  // UTC time stamped on the first RMC sentence
    std::string talker = "GP";
    bool gps = true;
    bool df = true;
    double dfNoiseDeg = 3;           // standard deviation; draws are clipped at 3.5 of them
    double dfWildPercent = 2;        // share of bearing lines that are wild
    std::int64_t plotEveryMs = 0;    // "@PLOT" at every multiple + 500 ms; 0: never
    std::int64_t garbageMeanMs = 0;  // mean time between garbage bursts; 0: none
    Outage gpsVoid;                  // the GPS reports status V (no fix) during these windows
    bool turnLag = true;             // kTurnLagMs and kTurnNoiseDegPerDegPerS; false: neither
    KrakenSettings kraken;
};

// Lines in order of time; nothing once the source is exhausted.
class LineSource {
  public:
    virtual ~LineSource() = default;
    virtual std::optional<SimEvent> next() = 0;
};

// The GPS sends one RMC sentence on every whole second; the direction finder a bearing line
// every 250 to 330 ms (3 to 4 a second), starting at 137 ms; "@PLOT" at 500 ms past its
// seconds. The Kraken makes its bearings at the same moments (with the Doppler off too); its
// answer follows the Doppler's line. Each feature draws from its own random stream of the
// seed, so the Kraken leaves the other lines as they were.
class GeneratedSource : public LineSource {
  public:
    explicit GeneratedSource(const GeneratorSettings& settings);
    std::optional<SimEvent> next() override;
    const Vehicle& vehicle() const { return m_vehicle; }
    GeoPoint secondTransmitter() const;

    // A garbage burst: 8 to 120 bytes of any value except CR, LF, "$", "%" and "@" (so it can
    // never start or complete a line the program looks for), then CR LF.
    static std::string garbageBurst(Random& random);

  private:
    struct Aim {
        double headingDeg;  // what the antennas point by
        double sigmaDeg;    // the noise of a bearing taken now
    };
    Aim aim() const;
    SimEvent rmcAt(std::int64_t atMs);
    SimEvent bearingAt(std::int64_t atMs, const Aim& aim);
    SimEvent krakenAt(std::int64_t atMs, const Aim& aim);

    GeneratorSettings m_settings;
    Vehicle m_vehicle;
    Random m_gpsRandom;
    Random m_dfRandom;
    Random m_garbageRandom;
    Random m_krakenRandom;
    Random m_secondKrakenRandom;
    std::optional<SimEvent> m_pendingKraken;
    std::int64_t m_nextRmcMs = 0;
    std::int64_t m_nextDfMs = 137;
    std::int64_t m_nextPlotMs = kNever;
    std::int64_t m_nextGarbageMs = kNever;
};

struct ReplaySettings {
    bool timing = false;        // keep the seconds timestamps of a --record file
    double linesPerSecond = 4;  // pace of a recording without timing
    bool loop = false;          // start again after the last line
    double speed = 1;           // play the recording's own pace this many times faster
    bool rateGiven = false;     // linesPerSecond was asked for: an even pace whatever the file
};

// A recording: one instrument line per line of text (CR, LF or CR LF ends a line; empty lines
// are skipped; every line is sent with CR LF). Three kinds are understood:
// - Kestrelmap's input log, "2026-12-08T14:21:07.123Z<TAB>GPS<TAB>line": each line goes out at
//   its receive time less the first one's.
// - a --record file, "12.250<TAB>line": with timing, each line at its timestamp less the first
//   one; without, evenly at linesPerSecond.
// - plain lines, such as an NMEA log: paced by the times of its RMC sentences, the lines between
//   two of them spread evenly over the time between (a gap of more than an hour counts as a
//   second); without RMC times, or with linesPerSecond asked for, evenly at that rate.
// A stamp is never sent. A line without one, or with one earlier than the line before, follows
// the line before. Every pace is `speed` times faster.
class ReplaySource : public LineSource {
  public:
    ReplaySource(std::string_view recording, const ReplaySettings& settings);
    std::optional<SimEvent> next() override;
    std::size_t lineCount() const { return m_lines.size(); }

    // Splits "12.250<TAB>text" into 12250 and "text"; nothing when there is no timestamp.
    static std::optional<std::int64_t> takeTimestampMs(std::string_view& line);
    // Splits "2026-12-08T14:21:07.123Z<TAB>INPUT<TAB>text" into the time (ms since 1970) and
    // "text"; nothing (the line untouched) when it does not start so.
    static std::optional<std::int64_t> takeInputLogStampMs(std::string_view& line);
    // The UTC time of day (ms) of an RMC sentence of any talker, "$GPRMC,hhmmss.ss,..."; nothing
    // for any other line or a sentence whose checksum is wrong.
    static std::optional<std::int64_t> rmcTimeOfDayMs(std::string_view line);

  private:
    struct Line {
        std::optional<std::int64_t> stampMs;
        std::string text;
    };
    void paceByStamps();
    void paceByRmcTimes();

    std::vector<Line> m_lines;
    std::vector<std::int64_t> m_offsetsMs;  // from the first line, at the recorded pace; empty:
                                            // even pace
    ReplaySettings m_settings;
    std::size_t m_index = 0;
    std::int64_t m_passOffsetMs = 0;
    std::int64_t m_lastMs = 0;
    std::int64_t m_count = 0;
};

struct ScheduleSettings {
    // The device is gone: lines dropped, CableOut/CableBack events. The Kraken, on the
    // network, goes on.
    Outage cablePull;
    // The cable stays, the instruments say nothing; the Kraken makes no new bearing (it serves
    // its last answer again).
    Outage silence;
    std::int64_t durationMs = kNever;  // nothing at or after this time
};

// Lays the outages over a source, in time order, and ends the run at the duration. Lines that
// fall into an outage are drawn from the source all the same and dropped, so the lines after
// an outage are exactly those of a run without it.
class Scheduler {
  public:
    Scheduler(std::unique_ptr<LineSource> source, const ScheduleSettings& settings);
    std::optional<SimEvent> next();

  private:
    std::optional<SimEvent> nextLine();
    std::unique_ptr<LineSource> m_source;
    ScheduleSettings m_settings;
    std::optional<SimEvent> m_pendingLine;
    std::int64_t m_nextPullMs = kNever;
    bool m_unplugged = false;
    bool m_sourceDone = false;
};

}  // namespace kestrel::sim
