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
