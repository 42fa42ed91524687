#pragma once

// kestrel-estimate [--json] FILE.csv: reads a plot log, prints the transmitter fix. Exit 0
// when it ran (with or without an estimate), 2 on a usage fault, an unreadable file or a
// malformed line (one message naming the file and line).

#include <ostream>
#include <span>
#include <string_view>

namespace kestrel::estimate {

inline constexpr int kToolRan = 0;
inline constexpr int kToolFault = 2;

int runEstimateTool(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

}  // namespace kestrel::estimate
