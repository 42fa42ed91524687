#pragma once
// The instrument set-up as text: the values of the [instruments] group of Kestrelmap.conf and
// the command-line options --gps, --df and --baud. Both are read here, so the file and the
// command line accept exactly the same things. Every reader refuses what it cannot use and says
// why; none guesses.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "instruments/input_config.h"

namespace kestrel::instruments {

// The standard rates, 1200 to 921600 baud.
const std::vector<int>& standardBauds();
// "1200" ... "921600": one of the standard rates, else nothing.
std::optional<int> parseBaud(std::string_view text);
// "1" ... "65535", else nothing.
std::optional<uint16_t> parseTcpPort(std::string_view text);
// A host name or address: letters, digits, ".", "-", "_" and ":" (IPv6), 1 to 253 of them.
bool isHostName(std::string_view text);
// "host", "host:port", "[v6 address]" or "[v6 address]:port": the host (without brackets) and
// the port text when a colon gives one, neither checked; nothing when a bracket is not closed or
// something other than ":port" follows it.
struct HostAndPort {
    std::string_view host;
    std::optional<std::string_view> port;
};
std::optional<HostAndPort> splitHostAndPort(std::string_view text);
// A device path such as /dev/ttyUSB0: not empty, no control characters, at most 4096 bytes.
bool isDevicePath(std::string_view text);
// "true" or "false" (any case), else nothing.
std::optional<bool> parseFlag(std::string_view text);

// Where the GPS comes from: "line" | "gpsd[:HOST[:PORT]]" | "serial:DEVICE[@BAUD]", with an
// IPv6 host in brackets ("gpsd:[::1]:2947"). What the text leaves out keeps its value in
// `config`. Returns what is wrong, or nothing when `config` was changed.
std::optional<std::string> applyGpsChoice(std::string_view text, InputConfig& config);
// Where the direction finder comes from: "line" | "serial:DEVICE[@BAUD]" |
// "kraken:HOST[:PORT]" (an SDR direction finder's DSP software, port 8081), the same way.
std::optional<std::string> applyDfChoice(std::string_view text, InputConfig& config);

// "kraken.local:8081", "[fe80::1]:8081": where the SDR direction finder is asked.
std::string krakenAddress(const InputConfig& config);
// The shortest decimal text that reads back as `value` ("146520000", "-12.5"), "." decimal point.
std::string numberText(double value);

// One key of the [instruments] group with its value as written.
struct SettingText {
    std::string key;
    std::string value;
};
// Every key of the [instruments] group for `config`, in file order.
std::vector<SettingText> instrumentSettings(const InputConfig& config);
// The [instruments] group read back. `value` yields a key's text, or nothing when the key is
// absent (then its default holds, quietly). A value that cannot be used leaves its default and
// adds a line to `problems` ("gps_baud = 4801: not a standard baud rate").
using SettingLookup = std::function<std::optional<std::string>(const std::string& key)>;
InputConfig readInstrumentSettings(const SettingLookup& value, std::vector<std::string>& problems);

// One run's choices from the command line, laid over what Kestrelmap.conf says.
struct RunOptions {
    std::string gps;  // the --gps text, already checked; empty: not given
    std::string df;   // the --df text, likewise
    std::optional<int> lineBaud;
    bool verbose = false;

    InputConfig applyTo(InputConfig config) const;
};
// Takes the value of --gps, --df or --baud (`name` without the dashes). Returns the one-line
// complaint naming the option and what it allows, or nothing when the value was taken.
std::optional<std::string> setRunOption(RunOptions& options, std::string_view name,
                                        std::string_view value);

}  // namespace kestrel::instruments
