// Team messages under attack: arbitrary bytes as the payload of a plot, position or exclusion
// message from the broker (the first byte chooses which, modulo 3 in that order). Decoding must
// answer (a message or a reason) and never crash; a message it accepts must be within its ranges,
// and writing it out again must decode to itself and write the same bytes.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "team/flat_json.h"
#include "team/team_message.h"

using namespace kestrel::team;

namespace {

[[noreturn]] void fault(const char* what, const std::string& text) {
    std::fprintf(stderr, "\nINVARIANT: %s: %s\n", what, text.c_str());
    std::abort();
}

template <typename Message>
void checkRoundTrip(const TeamNames& own, const std::string& topic, const Message& message,
                    std::string (*encode)(const Message&)) {
    const std::string once = encode(message);
    const Decoded again = decodeMessage(own, topic, once);
    const Message* back = std::get_if<Message>(&again);
    if (back == nullptr) {
        fault("an accepted message written out is refused", once);
    }
    if (encode(*back) != once) {
        fault("writing out is not stable", once);
    }
    if (!isSafeName(back->vehicle)) {
        fault("accepted an unsafe name", once);
    }
    if constexpr (!std::is_same_v<Message, TeamExclusion>) {
        if (std::fabs(back->latitudeDegrees) > 90 || std::fabs(back->longitudeDegrees) > 180) {
            fault("accepted out of range", once);
        }
    }
}

const char* kindOf(uint8_t choice) {
    static const char* const kKinds[] = {"plot", "position", "exclusion"};
    return kKinds[choice % 3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    static const TeamNames own{"red", "2026-12-08", "car1"};
    const std::string topic = std::string("kestrelmap/red/2026-12-08/car2/") + kindOf(data[0]);
    const std::string payload(reinterpret_cast<const char*>(data) + 1, size - 1);
    (void)parseFlatObject(payload);
    const Decoded decoded = decodeMessage(own, topic, payload);
    if (const TeamPlot* plot = std::get_if<TeamPlot>(&decoded)) {
        if (plot->seq < 1 || plot->plotNumber < 1 || plot->plotNumber > 99 ||
            (plot->bearingDegrees && (*plot->bearingDegrees < 0 || *plot->bearingDegrees > 359))) {
            fault("plot accepted out of range", payload);
        }
        checkRoundTrip(own, topic, *plot, &encodePlot);
    } else if (const TeamPosition* position = std::get_if<TeamPosition>(&decoded)) {
        checkRoundTrip(own, topic, *position, &encodePosition);
    } else if (const TeamExclusion* exclusion = std::get_if<TeamExclusion>(&decoded)) {
        if (exclusion->seq < 1 || exclusion->rev < 1) {
            fault("exclusion accepted out of range", payload);
        }
        checkRoundTrip(own, topic, *exclusion, &encodeExclusion);
    }
    return 0;
}
