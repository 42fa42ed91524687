#include "team/team_journal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace kestrel::team {

namespace {

// Line layout, fields separated by tabs, the last one the FNV-1a sum (8 hex digits) of
// everything before its tab:
//   P <seq> <payload> <sum>   an own plot message, before it is published
//   A <seq> <sum>             the broker acknowledged own plot <seq>
//   R <payload> <sum>         a plot received from another vehicle
//   X <rev> <payload> <sum>   an own exclusion message, before it is published
//   XA <rev> <sum>            the broker acknowledged own exclusion <rev>
//   XR <payload> <sum>        an exclusion received from another vehicle
// Payloads are written by encodePlot and encodeExclusion, which escape tabs and line ends.

std::string checkSum(std::string_view text) {
    uint32_t hash = 2166136261u;
    for (char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    char out[9];
    static constexpr char kHex[] = "0123456789abcdef";
    for (int i = 7; i >= 0; --i) {
        out[i] = kHex[hash & 0xF];
        hash >>= 4;
    }
    return std::string(out, 8);
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t tab = line.find('\t'); tab != std::string_view::npos;
         tab = line.find('\t', start)) {
        out.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    out.push_back(line.substr(start));
    return out;
}

std::optional<int64_t> seqOf(std::string_view text) {
    int64_t seq = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), seq);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || seq < 1) {
        return std::nullopt;
    }
    return seq;
}

// Where each own message is in the contents, by seq (plots) and by rev (exclusions).
struct OwnIndex {
    std::map<int64_t, size_t> plots, exclusions;
};

bool readPlotLine(const std::vector<std::string_view>& part, JournalContents& contents,
                  OwnIndex& index) {
    if (part[0] == "P" && part.size() == 3) {
        const auto seq = seqOf(part[1]);
        Decoded decoded = decodePlotPayload(part[2]);
        TeamPlot* plot = std::get_if<TeamPlot>(&decoded);
        if (!seq || plot == nullptr || plot->seq != *seq || index.plots.contains(*seq)) {
            return false;
        }
        index.plots[*seq] = contents.own.size();
        contents.own.push_back({std::move(*plot), std::string(part[2]), false});
        contents.lastSeq = std::max(contents.lastSeq, *seq);
        return true;
    }
    if (part[0] == "A" && part.size() == 2) {
        const auto seq = seqOf(part[1]);
        if (!seq || !index.plots.contains(*seq)) {
            return false;
        }
        contents.own[index.plots[*seq]].acknowledged = true;
        return true;
    }
    if (part[0] == "R" && part.size() == 2) {
        Decoded decoded = decodePlotPayload(part[1]);
        if (TeamPlot* plot = std::get_if<TeamPlot>(&decoded)) {
            contents.received.push_back(std::move(*plot));
            return true;
        }
    }
    return false;
}

bool readExclusionLine(const std::vector<std::string_view>& part, JournalContents& contents,
                       OwnIndex& index) {
    if (part[0] == "X" && part.size() == 3) {
        const auto rev = seqOf(part[1]);
        Decoded decoded = decodeExclusionPayload(part[2]);
        TeamExclusion* exclusion = std::get_if<TeamExclusion>(&decoded);
        if (!rev || exclusion == nullptr || exclusion->rev != *rev ||
            index.exclusions.contains(*rev)) {
            return false;
        }
        index.exclusions[*rev] = contents.ownExclusions.size();
        contents.ownExclusions.push_back({std::move(*exclusion), std::string(part[2]), false});
        contents.lastRev = std::max(contents.lastRev, *rev);
        return true;
    }
    if (part[0] == "XA" && part.size() == 2) {
        const auto rev = seqOf(part[1]);
        if (!rev || !index.exclusions.contains(*rev)) {
            return false;
        }
        contents.ownExclusions[index.exclusions[*rev]].acknowledged = true;
        return true;
    }
    if (part[0] == "XR" && part.size() == 2) {
        Decoded decoded = decodeExclusionPayload(part[1]);
        if (TeamExclusion* exclusion = std::get_if<TeamExclusion>(&decoded)) {
            contents.receivedExclusions.push_back(std::move(*exclusion));
            return true;
        }
    }
    return false;
}

// One checked line into the contents; false when it is damaged.
bool readLine(std::string_view line, JournalContents& contents, OwnIndex& index) {
    const size_t lastTab = line.rfind('\t');
    if (lastTab == std::string_view::npos ||
        checkSum(line.substr(0, lastTab)) != line.substr(lastTab + 1)) {
        return false;
    }
    const std::vector<std::string_view> part = fields(line.substr(0, lastTab));
    return part[0].starts_with('X') ? readExclusionLine(part, contents, index)
                                    : readPlotLine(part, contents, index);
}

void appendEncodedName(std::string& out, std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '_' || c == '-') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
}

}  // namespace

std::string journalPath(std::string_view folder, const TeamNames& names) {
    std::string path(folder);
    path += "team_";
    appendEncodedName(path, names.team);
    path += '+';
    appendEncodedName(path, names.hunt);
    path += '+';
    appendEncodedName(path, names.vehicle);
    path += ".journal";
    return path;
}

TeamJournal::~TeamJournal() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

JournalContents TeamJournal::load() const {
    JournalContents contents;
    std::ifstream in(m_path, std::ios::binary);
    if (!in) {
        return contents;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    OwnIndex index;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line(text.data() + start, end - start);
        if (!line.empty() && !readLine(line, contents, index)) {
            ++contents.damagedLines;
        }
        start = end + 1;
    }
    std::sort(contents.own.begin(), contents.own.end(),
              [](const auto& a, const auto& b) { return a.plot.seq < b.plot.seq; });
    std::sort(contents.ownExclusions.begin(), contents.ownExclusions.end(),
              [](const auto& a, const auto& b) { return a.exclusion.rev < b.exclusion.rev; });
    return contents;
}

// The file is opened once and kept open; a line cut short by an earlier crash is ended first,
// so that the new line stands on its own.
bool TeamJournal::appendLine(const std::string& line) {
    std::string text;
    if (m_file == nullptr) {
        m_file = std::fopen(m_path.c_str(), "a+b");
        if (m_file == nullptr) {
            m_lastError = std::strerror(errno);
            return false;
        }
        if (std::fseek(m_file, -1, SEEK_END) == 0 && std::fgetc(m_file) != '\n') {
            text += '\n';
        }
        std::fseek(m_file, 0, SEEK_END);
    }
    text += line;
    text += '\t';
    text += checkSum(line);
    text += '\n';
    const bool written = std::fwrite(text.data(), 1, text.size(), m_file) == text.size();
    if (std::fflush(m_file) != 0 || !written) {
        m_lastError = std::strerror(errno);
        return false;
    }
    return true;
}

bool TeamJournal::appendOwn(const TeamPlot& plot, const std::string& payload) {
    return appendLine("P\t" + std::to_string(plot.seq) + "\t" + payload);
}

bool TeamJournal::appendAcknowledged(int64_t seq) {
    return appendLine("A\t" + std::to_string(seq));
}

bool TeamJournal::appendReceived(const TeamPlot& plot) {
    return appendLine("R\t" + encodePlot(plot));
}

bool TeamJournal::appendOwnExclusion(const TeamExclusion& exclusion, const std::string& payload) {
    return appendLine("X\t" + std::to_string(exclusion.rev) + "\t" + payload);
}

bool TeamJournal::appendExclusionAcknowledged(int64_t rev) {
    return appendLine("XA\t" + std::to_string(rev));
}

bool TeamJournal::appendReceivedExclusion(const TeamExclusion& exclusion) {
    return appendLine("XR\t" + encodeExclusion(exclusion));
}

}  // namespace kestrel::team
