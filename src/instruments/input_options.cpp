#include "instruments/input_options.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace kestrel::instruments {

namespace {

constexpr std::string_view kGpsForms = "line, gpsd[:HOST[:PORT]] or serial:DEVICE[@BAUD]";
constexpr std::string_view kDfForms = "line, serial:DEVICE[@BAUD] or kraken:HOST[:PORT]";

std::optional<long> wholeNumber(std::string_view text) {
    long value = 0;
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return out;
}

std::string bauds() {
    std::string out;
    for (int baud : standardBauds()) {
        out += (out.empty() ? "" : ", ") + std::to_string(baud);
    }
    return out;
}

std::string notABaud(std::string_view text) {
    return "\"" + std::string(text) + "\" is not a standard baud rate (" + bauds() + ")";
}

// "DEVICE[@BAUD]" onto `serial`: the baud is what follows the last "@".
std::optional<std::string> applySerial(std::string_view text, SerialSetting& serial) {
    std::string_view device = text;
    std::optional<int> baud;
    if (const size_t at = text.rfind('@'); at != std::string_view::npos) {
        device = text.substr(0, at);
        baud = parseBaud(text.substr(at + 1));
        if (!baud) {
            return notABaud(text.substr(at + 1));
        }
    }
    if (!isDevicePath(device)) {
        return "the serial device is missing or not a path";
    }
    serial.device = std::string(device);
    if (baud) {
        serial.baud = *baud;
    }
    return std::nullopt;
}

// "[HOST][:PORT]" after "gpsd:", the host of an IPv6 address in brackets.
std::optional<std::string> applyGpsd(std::string_view text, InputConfig& config) {
    const std::optional<HostAndPort> split = splitHostAndPort(text);
    if (!split) {
        return "an IPv6 host is written in brackets: gpsd:[::1]:2947";
    }
    const std::string_view host = split->host;
    const std::optional<uint16_t> portNumber =
        split->port ? parseTcpPort(*split->port) : std::nullopt;
    if (split->port && !portNumber) {
        return "\"" + std::string(*split->port) + "\" is not a TCP port (1 to 65535)";
    }
    if (!host.empty() && !isHostName(host)) {
        return "\"" + std::string(host) + "\" is not a host name or address";
    }
    if (!host.empty()) {
        config.gpsdHost = std::string(host);
    }
    if (portNumber) {
        config.gpsdPort = *portNumber;
    }
    return std::nullopt;
}

// `target` takes the value when there is one.
template <class T, class U>
bool setIf(const std::optional<U>& value, T& target) {
    if (value) {
        target = *value;
    }
    return value.has_value();
}

// "HOST[:PORT]" after "kraken:", an IPv6 host in brackets.
std::optional<std::string> applyKraken(std::string_view text, InputConfig& config) {
    const std::optional<HostAndPort> split = splitHostAndPort(text);
    const bool bareIpv6 = !text.starts_with('[') && std::count(text.begin(), text.end(), ':') > 1;
    if (!split || !isHostName(split->host) || bareIpv6) {
        return "kraken:HOST[:PORT] needs a host name or address (an IPv6 one in brackets)";
    }
    std::optional<uint16_t> port = uint16_t(8081);
    if (split->port) {
        port = parseTcpPort(*split->port);
        if (!port) {
            return "\"" + std::string(*split->port) + "\" is not a TCP port (1 to 65535)";
        }
    }
    config.krakenHost = std::string(split->host);
    config.krakenPort = *port;
    return std::nullopt;
}

// A number in plain decimals ("146520000", "-12.5"), else nothing.
std::optional<double> decimalNumber(std::string_view text) {
    if (text.empty() || text.size() > 24 ||
        text.find_first_of("eEnNiIxX") != std::string_view::npos) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string_view gpsName(GpsFrom from) {
    switch (from) {
        case GpsFrom::Serial:
            return "serial";
        case GpsFrom::Gpsd:
            return "gpsd";
        case GpsFrom::Line:
            break;
    }
    return "line";
}

}  // namespace

std::string krakenAddress(const InputConfig& config) {
    const bool v6 = config.krakenHost.find(':') != std::string::npos;
    return (v6 ? "[" + config.krakenHost + "]" : config.krakenHost) + ":" +
           std::to_string(config.krakenPort);
}

std::string numberText(double value) {
    std::array<char, 32> text{};
    const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() ? std::string(text.data(), end) : std::string("0");
}

const std::vector<int>& standardBauds() {
    static const std::vector<int> rates = {1200,  2400,   4800,   9600,   19200, 38400,
                                           57600, 115200, 230400, 460800, 921600};
    return rates;
}

std::optional<int> parseBaud(std::string_view text) {
    const std::optional<long> value = wholeNumber(text);
    const std::vector<int>& rates = standardBauds();
    if (!value || std::find(rates.begin(), rates.end(), *value) == rates.end()) {
        return std::nullopt;
    }
    return int(*value);
}

std::optional<uint16_t> parseTcpPort(std::string_view text) {
    const std::optional<long> value = wholeNumber(text);
    if (!value || *value < 1 || *value > 65535) {
        return std::nullopt;
    }
    return uint16_t(*value);
}

std::optional<HostAndPort> splitHostAndPort(std::string_view text) {
    if (text.starts_with('[')) {
        const size_t close = text.find(']');
        if (close == std::string_view::npos ||
            (close + 1 < text.size() && text[close + 1] != ':')) {
            return std::nullopt;
        }
        if (close + 1 == text.size()) {
            return HostAndPort{text.substr(1, close - 1), std::nullopt};
        }
        return HostAndPort{text.substr(1, close - 1), text.substr(close + 2)};
    }
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return HostAndPort{text, std::nullopt};
    }
    return HostAndPort{text.substr(0, colon), text.substr(colon + 1)};
}

bool isHostName(std::string_view text) {
    return !text.empty() && text.size() <= 253 && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == '_' || c == ':';
    });
}

bool isDevicePath(std::string_view text) {
    return !text.empty() && text.size() <= 4096 &&
           std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::optional<bool> parseFlag(std::string_view text) {
    const std::string word = lower(text);
    if (word == "true") {
        return true;
    }
    if (word == "false") {
        return false;
    }
    return std::nullopt;
}

std::optional<std::string> applyGpsChoice(std::string_view text, InputConfig& config) {
    InputConfig changed = config;
    std::optional<std::string> error;
    if (text == "line") {
        changed.gps = GpsFrom::Line;
    } else if (text == "gpsd" || text.starts_with("gpsd:")) {
        changed.gps = GpsFrom::Gpsd;
        error = applyGpsd(text.substr(std::min<size_t>(5, text.size())), changed);
    } else if (text.starts_with("serial:")) {
        changed.gps = GpsFrom::Serial;
        error = applySerial(text.substr(7), changed.gpsSerial);
    } else {
        error = "expected " + std::string(kGpsForms) + ", not \"" + std::string(text) + "\"";
    }
    if (!error) {
        config = changed;
    }
    return error;
}

std::optional<std::string> applyDfChoice(std::string_view text, InputConfig& config) {
    InputConfig changed = config;
    std::optional<std::string> error;
    if (text == "line") {
        changed.df = DfFrom::Line;
    } else if (text.starts_with("serial:")) {
        changed.df = DfFrom::Serial;
        error = applySerial(text.substr(7), changed.dfSerial);
    } else if (text.starts_with("kraken:")) {
        changed.df = DfFrom::Kraken;
        error = applyKraken(text.substr(7), changed);
    } else {
        error = "expected " + std::string(kDfForms) + ", not \"" + std::string(text) + "\"";
    }
    if (!error) {
        config = changed;
    }
    return error;
}

std::vector<SettingText> instrumentSettings(const InputConfig& config) {
    return {
        {"line_baud", std::to_string(config.lineBaud)},
        {"gps", std::string(gpsName(config.gps))},
        {"gps_device", config.gpsSerial.device},
        {"gps_baud", std::to_string(config.gpsSerial.baud)},
        {"gpsd_host", config.gpsdHost},
        {"gpsd_port", std::to_string(config.gpsdPort)},
        {"df", config.df == DfFrom::Serial   ? "serial"
               : config.df == DfFrom::Kraken ? "kraken"
                                             : "line"},
        {"df_device", config.dfSerial.device},
        {"df_baud", std::to_string(config.dfSerial.baud)},
        {"df_kraken", krakenAddress(config)},
        {"df_frequency", config.dfFrequencyHz ? numberText(*config.dfFrequencyHz) : ""},
        {"df_array_offset", numberText(config.dfArrayOffset)},
    };
}

// What the count sees is the key table's one-line parsers; split up, the table would read worse.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
InputConfig readInstrumentSettings(const SettingLookup& value, std::vector<std::string>& problems) {
    // Each key with what it accepts and where it goes; false: the text is not usable.
    using Apply = bool (*)(const std::string&, InputConfig&);
    struct Key {
        const char* name;
        Apply apply;
        const char* allowed;
    };
    static const Key keys[] = {
        {"line_baud",
         [](const std::string& t, InputConfig& c) { return setIf(parseBaud(t), c.lineBaud); },
         nullptr},
        {"gps_baud",
         [](const std::string& t, InputConfig& c) { return setIf(parseBaud(t), c.gpsSerial.baud); },
         nullptr},
        {"df_baud",
         [](const std::string& t, InputConfig& c) { return setIf(parseBaud(t), c.dfSerial.baud); },
         nullptr},
        {"gpsd_host",
         [](const std::string& t, InputConfig& c) {
             return setIf(isHostName(t) ? std::optional(t) : std::nullopt, c.gpsdHost);
         },
         "not a host name or address"},
        {"gpsd_port",
         [](const std::string& t, InputConfig& c) { return setIf(parseTcpPort(t), c.gpsdPort); },
         "not a TCP port (1 to 65535)"},
        // An empty device is no damage: it is what an unused serial input holds.
        {"gps_device",
         [](const std::string& t, InputConfig& c) {
             return setIf(t.empty() || isDevicePath(t) ? std::optional(t) : std::nullopt,
                          c.gpsSerial.device);
         },
         "not a device path"},
        {"df_device",
         [](const std::string& t, InputConfig& c) {
             return setIf(t.empty() || isDevicePath(t) ? std::optional(t) : std::nullopt,
                          c.dfSerial.device);
         },
         "not a device path"},
        {"gps",
         [](const std::string& t, InputConfig& c) {
             const auto from = t == "line"     ? std::optional(GpsFrom::Line)
                               : t == "serial" ? std::optional(GpsFrom::Serial)
                               : t == "gpsd"   ? std::optional(GpsFrom::Gpsd)
                                               : std::nullopt;
             return setIf(from, c.gps);
         },
         "expected line, serial or gpsd"},
        {"df",
         [](const std::string& t, InputConfig& c) {
             const auto from = t == "line"     ? std::optional(DfFrom::Line)
                               : t == "serial" ? std::optional(DfFrom::Serial)
                               : t == "kraken" ? std::optional(DfFrom::Kraken)
                                               : std::nullopt;
             return setIf(from, c.df);
         },
         "expected line, serial or kraken"},
        {"df_kraken", [](const std::string& t, InputConfig& c) { return !applyKraken(t, c); },
         "expected HOST or HOST:PORT (an IPv6 host in brackets)"},
        // Empty: the first frequency the direction finder reports.
        {"df_frequency",
         [](const std::string& t, InputConfig& c) {
             if (t.empty()) {
                 c.dfFrequencyHz.reset();
                 return true;
             }
             const std::optional<double> hz = decimalNumber(t);
             if (!hz || *hz <= 0 || *hz > 1e11) {
                 return false;
             }
             c.dfFrequencyHz = hz;
             return true;
         },
         "not a frequency in Hz"},
        {"df_array_offset",
         [](const std::string& t, InputConfig& c) {
             const std::optional<double> degrees = decimalNumber(t);
             return setIf(degrees && *degrees >= -360 && *degrees <= 360 ? degrees : std::nullopt,
                          c.dfArrayOffset);
         },
         "not an angle from -360 to 360 degrees"},
    };
    InputConfig config;
    for (const Key& key : keys) {
        const std::optional<std::string> text = value(key.name);
        if (text && !key.apply(*text, config)) {
            problems.push_back(std::string(key.name) + " = \"" + *text + "\": " +
                               (key.allowed != nullptr
                                    ? std::string(key.allowed)
                                    : "not a standard baud rate (" + bauds() + ")"));
        }
    }
    // A serial input without a device cannot work: that instrument stays on the line.
    if (config.gps == GpsFrom::Serial && config.gpsSerial.device.empty()) {
        problems.push_back("gps = serial without a gps_device: the GPS stays on the line");
        config.gps = GpsFrom::Line;
    }
    if (config.df == DfFrom::Serial && config.dfSerial.device.empty()) {
        problems.push_back(
            "df = serial without a df_device: the direction finder stays on the line");
        config.df = DfFrom::Line;
    }
    return config;
}

InputConfig RunOptions::applyTo(InputConfig config) const {
    // The texts were checked when they were set, so they apply.
    if (!gps.empty()) {
        applyGpsChoice(gps, config);
    }
    if (!df.empty()) {
        applyDfChoice(df, config);
    }
    if (lineBaud) {
        config.lineBaud = *lineBaud;
    }
    return config;
}

std::optional<std::string> setRunOption(RunOptions& options, std::string_view name,
                                        std::string_view value) {
    InputConfig scratch;
    std::optional<std::string> error;
    if (name == "gps") {
        error = applyGpsChoice(value, scratch);
        options.gps = error ? std::string() : std::string(value);
    } else if (name == "df") {
        error = applyDfChoice(value, scratch);
        options.df = error ? std::string() : std::string(value);
    } else if (name == "baud") {
        options.lineBaud = parseBaud(value);
        if (!options.lineBaud) {
            error = notABaud(value);
        }
    } else {
        error = "is not an option";
    }
    if (error) {
        return "--" + std::string(name) + ": " + *error;
    }
    return std::nullopt;
}

}  // namespace kestrel::instruments
