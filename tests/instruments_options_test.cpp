// The instrument set-up as text: what --gps, --df and --baud accept and refuse, and the
// [instruments] group of Kestrelmap.conf read back value by value.

#include <gtest/gtest.h>

#include <map>

#include "instruments/input_options.h"

namespace kestrel::instruments {
namespace {

// The configuration after `option` with `value` on top of `start`, or the complaint.
std::string afterOption(const char* option, const char* value, const InputConfig& start = {}) {
    RunOptions run;
    if (const auto error = setRunOption(run, option, value)) {
        return *error;
    }
    const InputConfig c = run.applyTo(start);
    const char* gps[] = {"line", "serial", "gpsd"};
    return std::string("gps=") + gps[int(c.gps)] + " " + c.gpsSerial.device + "@" +
           std::to_string(c.gpsSerial.baud) + " gpsd=" + c.gpsdHost + ":" +
           std::to_string(c.gpsdPort) + " df=" +
           (c.df == DfFrom::Serial   ? "serial "
            : c.df == DfFrom::Kraken ? "kraken " + krakenAddress(c) + " "
                                     : "line ") +
           c.dfSerial.device + "@" + std::to_string(c.dfSerial.baud) +
           " line=" + std::to_string(c.lineBaud);
}

TEST(InputOptions, CommandLineValues) {
    InputConfig fromFile;
    fromFile.gpsdHost = "pi.local";
    fromFile.gpsSerial = {"/dev/ttyACM0", 9600};
    struct Case {
        const char* option;
        const char* value;
        std::string expected;
        InputConfig start = {};
    };
    const std::string lineDf = " df=line @4800 line=4800";
    const Case cases[] = {
        {"gps", "line", "gps=line @4800 gpsd=localhost:2947" + lineDf},
        {"gps", "gpsd", "gps=gpsd @4800 gpsd=localhost:2947" + lineDf},
        {"gps", "gpsd:car", "gps=gpsd @4800 gpsd=car:2947" + lineDf},
        {"gps", "gpsd:10.0.0.2:3000", "gps=gpsd @4800 gpsd=10.0.0.2:3000" + lineDf},
        {"gps", "gpsd:[::1]:2948", "gps=gpsd @4800 gpsd=::1:2948" + lineDf},
        {"gps", "gpsd::2948", "gps=gpsd @4800 gpsd=localhost:2948" + lineDf},
        // What the option leaves out, Kestrelmap.conf gives.
        {"gps", "gpsd", "gps=gpsd /dev/ttyACM0@9600 gpsd=pi.local:2947" + lineDf, fromFile},
        {"gps", "serial:/dev/ttyUSB1", "gps=serial /dev/ttyUSB1@9600 gpsd=pi.local:2947" + lineDf,
         fromFile},
        {"gps", "serial:/dev/ttyUSB1@38400",
         "gps=serial /dev/ttyUSB1@38400 gpsd=localhost:2947" + lineDf},
        {"df", "serial:/dev/serial/by-id/usb-X-if00@1200",
         "gps=line @4800 gpsd=localhost:2947 df=serial /dev/serial/by-id/usb-X-if00@1200 "
         "line=4800"},
        {"baud", "921600", "gps=line @4800 gpsd=localhost:2947 df=line @4800 line=921600"},
        {"gps", "serial",
         "--gps: expected line, gpsd[:HOST[:PORT]] or serial:DEVICE[@BAUD], "
         "not \"serial\""},
        {"gps", "serial:", "--gps: the serial device is missing or not a path"},
        {"gps", "serial:/dev/x@4801",
         "--gps: \"4801\" is not a standard baud rate (1200, 2400, "
         "4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, "
         "921600)"},
        {"gps", "serial:/dev/x@",
         "--gps: \"\" is not a standard baud rate (1200, 2400, 4800, "
         "9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600)"},
        {"gps", "gpsd:host:0", "--gps: \"0\" is not a TCP port (1 to 65535)"},
        {"gps", "gpsd:host:65536", "--gps: \"65536\" is not a TCP port (1 to 65535)"},
        {"gps", "gpsd:[::1", "--gps: an IPv6 host is written in brackets: gpsd:[::1]:2947"},
        {"gps", "gpsd:ho st", "--gps: \"ho st\" is not a host name or address"},
        {"gps", "GPSD",
         "--gps: expected line, gpsd[:HOST[:PORT]] or serial:DEVICE[@BAUD], "
         "not \"GPSD\""},
        {"df", "kraken:kraken.local",
         "gps=line @4800 gpsd=localhost:2947 df=kraken "
         "kraken.local:8081 @4800 line=4800"},
        {"df", "kraken:[fe80::1]:9000",
         "gps=line @4800 gpsd=localhost:2947 df=kraken "
         "[fe80::1]:9000 @4800 line=4800"},
        {"df", "kraken:",
         "--df: kraken:HOST[:PORT] needs a host name or address (an IPv6 one "
         "in brackets)"},
        {"df", "kraken:fe80::1",
         "--df: kraken:HOST[:PORT] needs a host name or address (an "
         "IPv6 one in brackets)"},
        {"df", "kraken:pi:0", "--df: \"0\" is not a TCP port (1 to 65535)"},
        {"df", "gpsd",
         "--df: expected line, serial:DEVICE[@BAUD] or kraken:HOST[:PORT], not \"gpsd\""},
        {"df", "serial:/dev/tty\x01", "--df: the serial device is missing or not a path"},
        {"baud", "-4800",
         "--baud: \"-4800\" is not a standard baud rate (1200, 2400, 4800, 9600, "
         "19200, 38400, 57600, 115200, 230400, 460800, 921600)"},
        {"baud", "1000000000000",
         "--baud: \"1000000000000\" is not a standard baud rate (1200, "
         "2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, "
         "921600)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(afterOption(c.option, c.value, c.start), c.expected)
            << c.option << " " << c.value;
    }
}

// The file's [instruments] group read back from `values`; the problems joined by "|".
std::pair<InputConfig, std::string> readBack(const std::map<std::string, std::string>& values) {
    std::vector<std::string> problems;
    const InputConfig config = readInstrumentSettings(
        [&](const std::string& key) -> std::optional<std::string> {
            const auto it = values.find(key);
            return it == values.end() ? std::nullopt : std::optional(it->second);
        },
        problems);
    std::string joined;
    for (const std::string& p : problems) {
        joined += (joined.empty() ? "" : "|") + p;
    }
    return {config, joined};
}

TEST(InputOptions, SettingsGroupReadsBackWhatItWrote) {
    InputConfig config;
    config.lineBaud = 9600;
    config.gps = GpsFrom::Gpsd;
    config.gpsSerial = {"/dev/serial/by-id/usb-u-blox_GNSS-if00", 115200};
    config.gpsdHost = "::1";
    config.gpsdPort = 2948;
    config.df = DfFrom::Serial;
    config.dfSerial = {"/dev/ttyUSB0", 19200};
    std::map<std::string, std::string> values;
    for (const SettingText& s : instrumentSettings(config)) {
        values[s.key] = s.value;
    }
    EXPECT_EQ(values.size(), 12u);
    EXPECT_EQ(readBack(values), std::pair(config, std::string()));
    config.df = DfFrom::Kraken;
    config.krakenHost = "fe80::1";
    config.krakenPort = 9000;
    config.dfFrequencyHz = 146520000.5;
    config.dfArrayOffset = -12.25;
    for (const SettingText& s : instrumentSettings(config)) {
        values[s.key] = s.value;
    }
    EXPECT_EQ(values["df_kraken"], "[fe80::1]:9000");
    EXPECT_EQ(readBack(values), std::pair(config, std::string()));
    EXPECT_EQ(readBack({}), std::pair(InputConfig{}, std::string()));  // a missing group
}

TEST(InputOptions, DamagedSettingsFallBackOneByOne) {
    struct Case {
        std::map<std::string, std::string> values;
        std::string problems;
        InputConfig expected = {};
    };
    InputConfig serialGps;
    serialGps.gps = GpsFrom::Serial;
    serialGps.gpsSerial.device = "/dev/ttyUSB3";
    const Case cases[] = {
        {{{"line_baud", "4801"}},
         "line_baud = \"4801\": not a standard baud rate (1200, 2400, "
         "4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, "
         "921600)"},
        {{{"gpsd_port", "http"}}, "gpsd_port = \"http\": not a TCP port (1 to 65535)"},
        {{{"gpsd_host", ""}}, "gpsd_host = \"\": not a host name or address"},
        {{{"gps", "bluetooth"}}, "gps = \"bluetooth\": expected line, serial or gpsd"},
        {{{"df", "Serial"}}, "df = \"Serial\": expected line, serial or kraken"},
        {{{"df_kraken", "a b"}},
         "df_kraken = \"a b\": expected HOST or HOST:PORT (an IPv6 host in brackets)"},
        {{{"df_frequency", "146.52e6"}}, "df_frequency = \"146.52e6\": not a frequency in Hz"},
        {{{"df_frequency", "-5"}}, "df_frequency = \"-5\": not a frequency in Hz"},
        {{{"df_array_offset", "400"}},
         "df_array_offset = \"400\": not an angle from -360 to 360 degrees"},
        {{{"df_array_offset", "nan"}},
         "df_array_offset = \"nan\": not an angle from -360 to 360 degrees"},
        {{{"gps", "serial"}}, "gps = serial without a gps_device: the GPS stays on the line"},
        {{{"df", "serial"}, {"df_device", "/dev/\t"}},
         "df_device = \"/dev/\t\": not a device path|df = serial without a df_device: the "
         "direction finder stays on the line"},
        // One damaged value leaves the good ones standing.
        {{{"gps", "serial"}, {"gps_device", "/dev/ttyUSB3"}, {"gps_baud", "fast"}},
         "gps_baud = \"fast\": not a standard baud rate (1200, 2400, 4800, 9600, 19200, 38400, "
         "57600, 115200, 230400, 460800, 921600)",
         serialGps},
    };
    for (const Case& c : cases) {
        const auto [config, problems] = readBack(c.values);
        EXPECT_EQ(problems, c.problems);
        EXPECT_EQ(config, c.expected) << c.problems;
    }
}

}  // namespace
}  // namespace kestrel::instruments
