// The receive path: line-rate splitting, framing, the RMC parser and the bearing parser over a
// recorded-like mixed stream (RMC with checksums at 1 Hz and other NMEA sentences, bearings at
// 4 Hz, CR LF line ends, some line noise), both sources on the instruments so every parsed
// line reaches the registers. The argument is the size of each read the port delivers.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_BENCH=ON
//   cmake --build build-bench --target kestrel_bench
//   build-bench/bench/kestrel_bench --benchmark_filter=Framing

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "fakes/fake_platform.h"

namespace kestrel {
namespace {

std::string withChecksum(const std::string& sentence) {
    unsigned sum = 0;
    for (size_t i = 1; i < sentence.size(); ++i) {
        sum ^= static_cast<unsigned char>(sentence[i]);
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "*%02X", sum);
    return sentence + hex;
}

// One hour of a moving vehicle; deterministic.
std::string mixedStream() {
    std::string stream;
    uint32_t noise = 2463534242u;
    char line[160];
    for (int second = 0; second < 3600; ++second) {
        const int hh = 9 + second / 3600;
        const int mm = second / 60 % 60;
        const int ss = second % 60;
        const double latMinutes = 7.038 + second * 0.0011;
        const double lonMinutes = 31.0 + second * 0.0007;
        std::snprintf(line, sizeof line,
                      "$GPRMC,%02d%02d%02d.00,A,48%06.3f,N,011%06.3f,E,%05.1f,%05.1f,070326,,,A",
                      hh, mm, ss, latMinutes, lonMinutes, 20.0 + second % 17,
                      (second * 7) % 3600 / 10.0);
        stream += withChecksum(line) + "\r\n";
        std::snprintf(line, sizeof line,
                      "$GPGGA,%02d%02d%02d.00,48%06.3f,N,011%06.3f,E,1,08,0.9,545.4,M,46.9,M,,", hh,
                      mm, ss, latMinutes, lonMinutes);
        stream += withChecksum(line) + "\r\n";
        for (int quarter = 0; quarter < 4; ++quarter) {
            std::snprintf(line, sizeof line, "%%%03d\r\n", (second * 13 + quarter * 29) % 360);
            stream += line;
        }
        if (second % 10 == 0) {  // a burst of ignition noise
            for (int i = 0; i < 12; ++i) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                stream += static_cast<char>(noise % 94 + 32);
            }
        }
    }
    return stream;
}

void FramingMixedStream(benchmark::State& state) {
    const std::string stream = mixedStream();
    const size_t readBytes = static_cast<size_t>(state.range(0));
    test::FakeRig rig;
    Form_Kestrelmap& f = rig.main();
    f.CmdButton_POSIT_SOURCE.Tag = "GPS";
    f.CmdButton_DF_SOURCE.Tag = "DF";
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += readBytes) {
            rig.serial.waiting.assign(stream, at, readBytes);
            f.serialEvent();
        }
        benchmark::DoNotOptimize(f.BEARING);
    }
    if (f.GPS_TIMEOUT != 10 || f.DF_TIMEOUT != 10 || f.Picture_BRGX1.glyph == Glyph::Dash) {
        state.SkipWithError("the stream did not reach the registers");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["stream_bytes"] = static_cast<double>(stream.size());
}

BENCHMARK(FramingMixedStream)->Arg(8)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrel
