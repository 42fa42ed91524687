#pragma once
// What a gpsd connection says, reduced to the NMEA sentences of its receiver. After the watch
// command below, gpsd sends JSON reports ({"class":"VERSION",...}) and the receiver's sentences
// as they arrive, one per line. Only whole lines that start with "$" pass; reports, noise and
// a line cut off by a closed connection do not.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel::instruments {

// gpsd's documented request for the raw NMEA stream of every device it watches.
inline constexpr std::string_view kGpsdWatchCommand = "?WATCH={\"enable\":true,\"nmea\":true};\n";

class GpsdStream {
  public:
    // The sentences completed by `bytes`, each ending in CR LF, ready for the framing.
    std::string take(std::string_view bytes);
    // The connection ended: a partial line is dropped.
    void reset();
    // A gpsd report (a JSON line) has arrived since the last reset: the peer is gpsd.
    bool heardGpsd() const { return m_heardGpsd; }

  private:
    std::string m_line;
    bool m_overlong = false;  // the line under way outgrew the limit and is skipped
    bool m_heardGpsd = false;
};

}  // namespace kestrel::instruments
