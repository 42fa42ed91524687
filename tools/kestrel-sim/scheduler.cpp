#include "kestrel-sim/scheduler.h"

#include <algorithm>
#include <cmath>

#include "kestrel-sim/kraken.h"
#include "kestrel-sim/sentences.h"

namespace kestrel::sim {
namespace {

constexpr std::uint64_t kDfStream = 2;
constexpr std::uint64_t kGarbageStream = 3;
constexpr std::uint64_t kGpsStream = 4;
constexpr std::uint64_t kKrakenStream = 5;
constexpr std::uint64_t kSecondKrakenStream = 6;
constexpr double kNoiseClip = 3.5;      // noise draws are clipped at this many deviations
constexpr double kStandingKnots = 0.3;  // below this the GPS reports only its own jitter

}  // namespace

bool Outage::covers(std::int64_t atMs) const {
    if (everyMs <= 0 || forMs <= 0 || atMs < everyMs) {
        return false;
    }
    return atMs % everyMs < forMs;
}

// --- the generated drive ------------------------------------------------------------------

GeneratedSource::GeneratedSource(const GeneratorSettings& settings)
    : m_settings(settings),
      m_vehicle(settings.route),
      m_gpsRandom(settings.route.seed, kGpsStream),
      m_dfRandom(settings.route.seed, kDfStream),
      m_garbageRandom(settings.route.seed, kGarbageStream),
      m_krakenRandom(settings.route.seed, kKrakenStream),
      m_secondKrakenRandom(settings.route.seed, kSecondKrakenStream) {
    if (!m_settings.gps) {
        m_nextRmcMs = kNever;
    }
    if (!m_settings.df && !m_settings.kraken.on) {
        m_nextDfMs = kNever;
    }
    if (m_settings.plotEveryMs > 0) {
        m_nextPlotMs = m_settings.plotEveryMs + 500;
    }
    if (m_settings.garbageMeanMs > 0) {
        m_nextGarbageMs = std::max<std::int64_t>(
            1000, std::llround(
                      m_garbageRandom.exponential(static_cast<double>(m_settings.garbageMeanMs))));
    }
}

std::string GeneratedSource::garbageBurst(Random& random) {
    std::string burst;
    const auto length = random.between(8, 120);
    while (static_cast<std::int64_t>(burst.size()) < length) {
        const char c = static_cast<char>(random.between(0, 255));
        if (c != '\r' && c != '\n' && c != '$' && c != '%' && c != '@') {
            burst += c;
        }
    }
    return burst;
}

SimEvent GeneratedSource::rmcAt(std::int64_t atMs) {
    SimEvent e;
    e.atMs = atMs;
    e.lineKind = LineKind::Rmc;
    e.vehicle = m_vehicle.state();
    e.fixValid = !m_settings.gpsVoid.covers(atMs);
    RmcFix fix;
    fix.time = utcAt(m_settings.startEpochSeconds, atMs);
    fix.valid = e.fixValid;
    fix.position = e.vehicle.position;
    fix.courseDeg = e.vehicle.headingDeg;
    const double jitter = m_gpsRandom.uniform(0.0, 0.4);  // drawn always: keeps the stream stable
    fix.speedKnots = e.vehicle.speedKnots < kStandingKnots ? jitter : e.vehicle.speedKnots;
    e.text = formatRmc(fix, m_settings.talker);
    return e;
}

GeoPoint GeneratedSource::secondTransmitter() const {
    return destination(m_settings.transmitter, kSecondTxBearingDeg, kSecondTxMiles);
}

GeneratedSource::Aim GeneratedSource::aim() const {
    const double sigma = std::max(0.0, m_settings.dfNoiseDeg);
    const double now = m_vehicle.state().headingDeg;
    if (!m_settings.turnLag) {
        return {now, sigma};
    }
    const double then = m_vehicle.headingDegAgo(kTurnLagMs);
    const double turnDegPerS =
        std::abs(angleDifference(then, now)) / (static_cast<double>(kTurnLagMs) / 1000.0);
    return {then, sigma + kTurnNoiseDegPerDegPerS * turnDegPerS};
}

SimEvent GeneratedSource::bearingAt(std::int64_t atMs, const Aim& aim) {
    SimEvent e;
    e.atMs = atMs;
    e.lineKind = LineKind::Bearing;
    e.vehicle = m_vehicle.state();
    e.trueBearingDeg = bearingDeg(e.vehicle.position, m_settings.transmitter);
    e.antennaHeadingDeg = aim.headingDeg;
    e.noiseSigmaDeg = aim.sigmaDeg;
    // Every draw is made whatever the outcome, so one wild bearing does not shift the rest.
    const double sigma = aim.sigmaDeg;
    const double noise =
        std::clamp(m_dfRandom.normal() * sigma, -kNoiseClip * sigma, kNoiseClip * sigma);
    e.wild = m_dfRandom.chance(m_settings.dfWildPercent / 100.0);
    const auto wildBearing = static_cast<int>(m_dfRandom.between(0, 359));
    const auto wildQuality = static_cast<int>(m_dfRandom.between(0, 2));
    if (e.wild) {
        e.text = formatBearing(wildBearing, wildQuality);
    } else {
        const double relative = wrapDegrees(e.trueBearingDeg - aim.headingDeg + noise);
        // The quality is judged against the noise of a straight run: a turn lowers it.
        const double usual = m_settings.dfNoiseDeg > 0 ? m_settings.dfNoiseDeg : sigma;
        const int quality =
            usual > 0 ? 9 - std::min(6, static_cast<int>(std::abs(noise) / usual * 2)) : 9;
        e.text = formatBearing(static_cast<int>(std::lround(relative)), quality);
    }
    return e;
}

SimEvent GeneratedSource::krakenAt(std::int64_t atMs, const Aim& aim) {
    SimEvent e;
    e.atMs = atMs;
    e.kind = EventKind::Kraken;
    e.lineKind = LineKind::Kraken;
    e.vehicle = m_vehicle.state();
    e.antennaHeadingDeg = aim.headingDeg;
    e.noiseSigmaDeg = aim.sigmaDeg;
    KrakenView view;
    view.unixMs = m_settings.startEpochSeconds * 1000 + atMs;
    view.frequencyHz = m_settings.kraken.frequencyHz;
    view.vehicle = e.vehicle;
    view.antennaHeadingDeg = aim.headingDeg;
    view.sigmaDeg = aim.sigmaDeg;
    view.wildPercent = m_settings.dfWildPercent;
    view.transmitter = m_settings.transmitter;
    const KrakenBearing first = takeKrakenBearing(view, m_krakenRandom);
    e.trueBearingDeg = first.trueBearingDeg;
    e.wild = first.wild;
    e.text = formatDoaLine(first.line);
    if (m_settings.kraken.secondFrequencyHz > 0) {
        view.frequencyHz = m_settings.kraken.secondFrequencyHz;
        view.transmitter = secondTransmitter();
        e.text += formatDoaLine(takeKrakenBearing(view, m_secondKrakenRandom).line);
    }
    return e;
}

std::optional<SimEvent> GeneratedSource::next() {
    if (m_pendingKraken) {
        std::optional<SimEvent> e = std::move(m_pendingKraken);
        m_pendingKraken.reset();
        return e;
    }
    const std::int64_t at = std::min({m_nextRmcMs, m_nextDfMs, m_nextPlotMs, m_nextGarbageMs});
    if (at == kNever) {
        return std::nullopt;
    }
    m_vehicle.advanceTo(at);
    if (at == m_nextRmcMs) {
        m_nextRmcMs += 1000;
        return rmcAt(at);
    }
    if (at == m_nextDfMs) {
        m_nextDfMs += m_dfRandom.between(250, 330);
        const Aim now = aim();
        // The Doppler's draws are made with it off too, so the Kraken keeps the same moments.
        SimEvent line = bearingAt(at, now);
        if (m_settings.kraken.on) {
            m_pendingKraken = krakenAt(at, now);
        }
        if (m_settings.df) {
            return line;
        }
        return next();
    }
    SimEvent e;
    e.atMs = at;
    e.vehicle = m_vehicle.state();
    if (at == m_nextPlotMs) {
        m_nextPlotMs += m_settings.plotEveryMs;
        e.lineKind = LineKind::Plot;
        e.text = "@PLOT";
        return e;
    }
    e.lineKind = LineKind::Garbage;
    e.text = garbageBurst(m_garbageRandom);
    m_nextGarbageMs += std::max<std::int64_t>(
        1000,
        std::llround(m_garbageRandom.exponential(static_cast<double>(m_settings.garbageMeanMs))));
    return e;
}

// --- the schedule ----------------------------------------------------------------------------

Scheduler::Scheduler(std::unique_ptr<LineSource> source, const ScheduleSettings& settings)
    : m_source(std::move(source)), m_settings(settings) {
    if (m_settings.cablePull.everyMs > 0 && m_settings.cablePull.forMs > 0) {
        m_nextPullMs = m_settings.cablePull.everyMs;
    }
}

std::optional<SimEvent> Scheduler::nextLine() {
    while (!m_sourceDone) {
        std::optional<SimEvent> e = m_source->next();
        if (!e || e->atMs >= m_settings.durationMs) {
            m_sourceDone = true;
            return std::nullopt;
        }
        const bool unplugged = e->kind != EventKind::Kraken && m_settings.cablePull.covers(e->atMs);
        if (!unplugged && !m_settings.silence.covers(e->atMs)) {
            return e;
        }
    }
    return std::nullopt;
}

std::optional<SimEvent> Scheduler::next() {
    if (!m_pendingLine) {
        m_pendingLine = nextLine();
    }
    if (!m_pendingLine && !m_unplugged) {
        return std::nullopt;  // nothing more to say (a pulled cable is put back first)
    }
    const std::int64_t lineAt = m_pendingLine ? m_pendingLine->atMs : kNever;
    if (m_nextPullMs <= lineAt && m_nextPullMs < m_settings.durationMs) {
        SimEvent e;
        e.atMs = m_nextPullMs;
        if (!m_unplugged) {
            e.kind = EventKind::CableOut;
            m_nextPullMs += m_settings.cablePull.forMs;
        } else {
            e.kind = EventKind::CableBack;
            m_nextPullMs += m_settings.cablePull.everyMs - m_settings.cablePull.forMs;
        }
        m_unplugged = !m_unplugged;
        return e;
    }
    if (!m_pendingLine) {
        return std::nullopt;
    }
    std::optional<SimEvent> line = std::move(m_pendingLine);
    m_pendingLine.reset();
    return line;
}

}  // namespace kestrel::sim
