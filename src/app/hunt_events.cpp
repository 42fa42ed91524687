#include "app/hunt_events.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/form_kestrelmap.h"

namespace kestrel {

std::string isoUtcText(int64_t utcMilliseconds) {
    using namespace std::chrono;
    const sys_seconds moment =
        floor<seconds>(sys_time<milliseconds>(milliseconds(utcMilliseconds)));
    const sys_days day = floor<days>(moment);
    const year_month_day date(day);
    const hh_mm_ss<seconds> time(moment - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

// YYYY-MM-DDTHH:MM:SS[.fff]Z
std::optional<int64_t> utcMillisecondsFromIso(std::string_view text) {
    int y = 0;
    unsigned mo = 0, d = 0, h = 0, mi = 0, s = 0;
    int consumed = 0;
    const std::string copy(text.substr(0, 40));
    if (text.size() < 20 ||
        std::sscanf(copy.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u%n", &y, &mo, &d, &h, &mi, &s,
                    &consumed) != 6 ||
        consumed != 19) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const year_month_day date{year(y), month(mo), day(d)};
    if (!date.ok() || h > 23 || mi > 59 || s > 60) {
        return std::nullopt;
    }
    std::string_view rest = text.substr(19);
    int64_t millis = 0;
    if (rest.starts_with('.')) {
        int64_t scale = 100;
        size_t i = 1;
        for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i, scale /= 10) {
            millis += (rest[i] - '0') * scale;
        }
        if (i == 1) {
            return std::nullopt;
        }
        rest.remove_prefix(i);
    }
    if (rest != "Z") {
        return std::nullopt;
    }
    const sys_days days = date;
    return (days.time_since_epoch() / milliseconds(1)) +
           static_cast<int64_t>((h * 60 + mi) * 60 + s) * 1000 + millis;
}

void Form_Kestrelmap::addObserver(HuntObserver& observer) {
    m_observers.push_back(&observer);
}

void Form_Kestrelmap::removeObserver(HuntObserver& observer) {
    std::erase(m_observers, &observer);
}

// Each announcement walks a copy: an observer may run a nested event loop (a message box) in
// which another one is added or removed.
void Form_Kestrelmap::afterEvent() {
    for (HuntObserver* observer : std::vector(m_observers)) {
        observer->eventHandled();
    }
}

void Form_Kestrelmap::announceLine(std::string_view input, std::string_view line) {
    for (HuntObserver* observer : std::vector(m_observers)) {
        observer->lineReceived(input, line);
    }
}

void Form_Kestrelmap::announcePlot(const PlotRecord& record) {
    for (HuntObserver* observer : std::vector(m_observers)) {
        observer->plotMade(record);
    }
}

}  // namespace kestrel
