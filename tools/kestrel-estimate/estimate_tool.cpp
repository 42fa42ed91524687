#include "kestrel-estimate/estimate_tool.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "estimate/estimator.h"
#include "estimate/gates.h"
#include "estimate/number_format.h"
#include "estimate/plot_log_reader.h"

namespace kestrel::estimate {

namespace {

constexpr std::string_view kHelp =
    "Usage: kestrel-estimate [--json] [--max-turn-rate N] [--min-confidence N] FILE.csv\n"
    "\n"
    "Estimates the transmitter's position from the bearings of a plot log and prints it.\n"
    "\n"
    "FILE.csv  a header line naming the columns, then one line a plot; fields separated by\n"
    "          commas, '.' as decimal point, CR LF or LF line ends. Columns are found by\n"
    "          name: lat, lon (degrees, signed) and bearing (true, degrees) are required;\n"
    "          quality (0 to 9; 0 is never used) and plot (its number) are optional; other\n"
    "          columns are ignored. A line with an empty bearing is not a bearing, nor one\n"
    "          with 1 in an excluded column (left out of the fix by hand). The columns\n"
    "          turn_rate (degrees per second) and confidence (0 to 99), when a line has\n"
    "          them, hold its bearing back at the gates below.\n"
    "--json    print one JSON object: shown, reason (when not shown), lat, lon,\n"
    "          semi_major_m, semi_minor_m, major_azimuth_deg (95 % ellipse), cep50_m,\n"
    "          sigma_deg, plots (lines with a bearing), used, rejected (plot numbers, or\n"
    "          row numbers without a plot column), provisional, excluded (lines left out by\n"
    "          hand) and, when any line with a bearing was not used, left_out: each such\n"
    "          line's plot (or row) and reason, in file order: \"excluded\" (not among the\n"
    "          plots), \"turning\", \"low confidence\", \"outlier\" or \"unusable\" (quality 0).\n"
    "--max-turn-rate N\n"
    "          leave out bearings taken while turning faster than N degrees per second\n"
    "          (default 6; 0 leaves every turn in).\n"
    "--min-confidence N\n"
    "          leave out bearings whose confidence is below N (0 to 99; default 0: none).\n"
    "--help    print this text.\n"
    "\n"
    "Exit status: 0 when the file was read, whether or not an estimate could be shown;\n"
    "2 when the file cannot be read or a line is malformed (the message names the line).\n";

std::string idList(const std::vector<int>& ids, std::string_view separator) {
    std::string text;
    for (size_t i = 0; i < ids.size(); ++i) {
        text += (i == 0 ? "" : std::string(separator)) + std::to_string(ids[i]);
    }
    return text;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return out + "\"";
}

// Every line with a bearing that was not used, in file order, with its reason.
struct LeftOutLine {
    int id = 0;
    Verdict verdict = Verdict::Used;
};

std::vector<LeftOutLine> leftOutLines(const PlotLog& log, const GatedEstimate& gated) {
    std::vector<LeftOutLine> lines;
    auto excluded = log.excluded.begin();
    for (size_t i = 0; i <= log.bearings.size(); ++i) {
        for (; excluded != log.excluded.end() && excluded->bearingsBefore == i; ++excluded) {
            lines.push_back({excluded->id, Verdict::Excluded});
        }
        if (i < log.bearings.size() && gated.verdicts[i] != Verdict::Used) {
            lines.push_back({log.bearings[i].id, gated.verdicts[i]});
        }
    }
    return lines;
}

void printJson(const Estimate& e, int excluded, const std::vector<LeftOutLine>& leftOut,
               std::ostream& out) {
    auto number = [&](double value, int decimals) {
        return e.shown ? fixedText(value, decimals) : std::string("null");
    };
    out << "{\"shown\": " << (e.shown ? "true" : "false");
    if (!e.shown) {
        out << ", \"reason\": " << jsonString(e.reason);
    }
    out << ", \"lat\": " << number(e.latitudeDeg, 7) << ", \"lon\": " << number(e.longitudeDeg, 7)
        << ", \"semi_major_m\": " << number(e.semiMajorM, 1)
        << ", \"semi_minor_m\": " << number(e.semiMinorM, 1)
        << ", \"major_azimuth_deg\": " << number(e.majorAzimuthDeg, 1)
        << ", \"cep50_m\": " << number(e.cep50M, 1) << ", \"sigma_deg\": " << number(e.sigmaDeg, 2)
        << ", \"plots\": " << e.plots << ", \"used\": " << e.used << ", \"rejected\": ["
        << idList(e.rejectedIds, ", ")
        << "], \"provisional\": " << (e.provisional ? "true" : "false")
        << ", \"excluded\": " << excluded;
    if (!leftOut.empty()) {
        out << ", \"left_out\": [";
        for (size_t i = 0; i < leftOut.size(); ++i) {
            out << (i == 0 ? "" : ", ") << "{\"plot\": " << leftOut[i].id
                << ", \"reason\": " << jsonString(verdictText(leftOut[i].verdict)) << "}";
        }
        out << "]";
    }
    out << "}\n";
}

void printText(const Estimate& e, bool plotNumbers, int excluded,
               const std::vector<LeftOutLine>& leftOut, std::ostream& out) {
    if (e.shown) {
        out << "Estimate: " << fixedText(e.latitudeDeg, 7) << ", " << fixedText(e.longitudeDeg, 7)
            << (e.provisional ? " (provisional: fewer than 10 plots used)" : "") << "\n";
        out << "95% ellipse: " << fixedText(e.semiMajorM, 0) << " x " << fixedText(e.semiMinorM, 0)
            << " m, major axis " << fixedText(e.majorAzimuthDeg, 0) << " deg; CEP50 "
            << fixedText(e.cep50M, 0) << " m; bearing sigma " << fixedText(e.sigmaDeg, 1)
            << " deg\n";
    } else {
        out << "No estimate: " << e.reason << "\n";
    }
    out << "Plots: " << e.plots << " with a bearing, " << e.used << " used";
    if (!e.rejectedIds.empty()) {
        out << "; rejected " << (plotNumbers ? "plots " : "rows ") << idList(e.rejectedIds, ", ");
    }
    if (excluded > 0) {
        out << "; " << excluded << " left out by hand";
    }
    for (const auto& [verdict, words] : {std::pair{Verdict::Turning, "while turning"},
                                         {Verdict::LowConfidence, "for low confidence"}}) {
        std::vector<int> ids;
        for (const LeftOutLine& line : leftOut) {
            if (line.verdict == verdict) {
                ids.push_back(line.id);
            }
        }
        if (!ids.empty()) {
            out << "; left out " << words << ": " << (plotNumbers ? "plots " : "rows ")
                << idList(ids, ", ");
        }
    }
    out << "\n";
}

// "--name N" or "--name=N": true when `arg` is the option, its value then read into `gate`;
// `fault` is set when the value is missing or cannot be used.
bool gateOption(std::span<const std::string_view> args, size_t& i, std::string_view name,
                std::optional<double> (*parse)(std::string_view), const char* expected,
                double& gate, std::string& fault) {
    const std::string_view arg = args[i];
    std::optional<std::string_view> text;
    if (arg == name) {
        if (i + 1 < args.size()) {
            text = args[++i];
        }
    } else if (arg.starts_with(name) && arg.substr(name.size()).starts_with('=')) {
        text = arg.substr(name.size() + 1);
    } else {
        return false;
    }
    const std::optional<double> value = text ? parse(*text) : std::nullopt;
    if (!value) {
        fault = std::string(name) +
                (text ? ": \"" + std::string(text->substr(0, 40)) + "\" is not " : " needs ") +
                expected;
        return true;
    }
    gate = *value;
    return true;
}

}  // namespace

int runEstimateTool(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    bool json = false;
    std::string_view path;
    Gates gates;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        std::string fault;
        if (arg == "--help" || arg == "-h") {
            out << kHelp;
            return kToolRan;
        }
        if (gateOption(args, i, "--max-turn-rate", maxTurnRateFromText,
                       "a number of degrees per second, 0 or more", gates.maxTurnRateDegPerS,
                       fault) ||
            gateOption(args, i, "--min-confidence", minConfidenceFromText, "a number 0 to 99",
                       gates.minConfidence, fault)) {
            if (!fault.empty()) {
                err << "kestrel-estimate: " << fault << " (see --help)\n";
                return kToolFault;
            }
        } else if (arg == "--json") {
            json = true;
        } else if (arg.starts_with("-") && arg != "-") {
            err << "kestrel-estimate: unknown option " << arg << " (see --help)\n";
            return kToolFault;
        } else if (!path.empty()) {
            err << "kestrel-estimate: one file only (see --help)\n";
            return kToolFault;
        } else {
            path = arg;
        }
    }
    if (path.empty()) {
        err << "kestrel-estimate: no plot log given (see --help)\n";
        return kToolFault;
    }
    std::error_code ec;
    std::ifstream file{std::string(path), std::ios::binary};
    if (!file || std::filesystem::is_directory(path, ec)) {
        err << "kestrel-estimate: " << path << ": cannot be read\n";
        return kToolFault;
    }
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) {
        err << "kestrel-estimate: " << path << ": cannot be read\n";
        return kToolFault;
    }
    const PlotLog log = readPlotLog(text);
    if (!log.ok) {
        err << "kestrel-estimate: " << path << ":" << log.errorLine << ": " << log.error << "\n";
        return kToolFault;
    }
    const GatedEstimate gated = estimateGated(log.bearings, gates);
    const std::vector<LeftOutLine> leftOut = leftOutLines(log, gated);
    if (json) {
        printJson(gated.estimate, log.excludedRows, leftOut, out);
    } else {
        printText(gated.estimate, log.hasPlotColumn, log.excludedRows, leftOut, out);
    }
    return kToolRan;
}

}  // namespace kestrel::estimate
