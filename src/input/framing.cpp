#include <algorithm>
#include <optional>
#include <string_view>

#include "app/form_kestrelmap.h"
#include "input/heading_reading.h"
#include "input/nmea_text.h"
#include "input/rmc_reading.h"

namespace kestrel {

namespace {

constexpr size_t npos = std::string::npos;
constexpr size_t kWindowChars = 100;  // INBUFF keeps the last 100 characters received
constexpr char kCarriageReturn = '\r';
constexpr int16_t kFreshSeconds = 10;
constexpr std::string_view kPlotCommand = "@PLOT";
constexpr size_t kAnnouncedLineChars = 512;  // a longer line is announced by its head

// Appends a piece of received text to the window, keeping only its last kWindowChars.
void appendToWindow(std::string& window, std::string_view piece) {
    if (piece.size() >= kWindowChars) {
        window.assign(piece.substr(piece.size() - kWindowChars));
        return;
    }
    window.append(piece);
    if (window.size() > kWindowChars) {
        window.erase(0, window.size() - kWindowChars);
    }
}

// An RMC sentence (any talker) up to its carriage return: everything up to and including that
// carriage return leaves the window, other lines before the sentence included. A sentence
// whose checksum fails, or that the parser would ignore as a whole, is dropped without a
// trace; the others become GPRMC_STRING and are parsed.
void cutRmcSentence(Form_Kestrelmap& form, std::string& window) {
    const size_t start = findRmcStart(window);
    const size_t end = start == npos ? npos : window.find(kCarriageReturn, start);
    if (end == npos) {
        return;
    }
    std::string sentence = window.substr(start, end - start);
    window.erase(0, end + 1);
    if (!readRmc(sentence)) {
        return;
    }
    form.GPRMC_STRING = std::move(sentence);
    form.GPRMC_PARSE();
}

// The quality digit of a bearing line "%045/7": the one digit right after its "/", if any.
std::optional<int> bearingQuality(std::string_view line) {
    const size_t slash = line.find('/');
    if (slash == npos || slash + 1 >= line.size() || line[slash + 1] < '0' ||
        line[slash + 1] > '9') {
        return std::nullopt;
    }
    return line[slash + 1] - '0';
}

// A "%" bearing line: exactly the three characters after "%" are kept, whatever the line's
// length (a two-digit line keeps its carriage return as the third).
void cutBearingLine(Form_Kestrelmap& form, std::string& window) {
    const size_t start = window.find('%');
    const size_t end = start == npos ? npos : window.find(kCarriageReturn, start);
    if (end == npos) {
        return;
    }
    form.AGRELLO_STRING = window.substr(start + 1, 3);
    form.lastBearingQuality = bearingQuality(std::string_view(window).substr(start, end - start));
    form.DF_TIMEOUT = kFreshSeconds;
    window.erase(0, end + 1);
    form.AGRELLO_PARSE();
}

// A line containing "@PLOT" presses ADD PLOT once.
void cutPlotCommand(Form_Kestrelmap& form, std::string& window) {
    const size_t start = window.find(kPlotCommand);
    const size_t end = start == npos ? npos : window.find(kCarriageReturn, start);
    if (end == npos) {
        return;
    }
    window.erase(0, end + 1);
    form.CmdButton_ADD_PLOT_Click();
}

// A heading sentence up to its carriage return leaves the window like an RMC sentence, lines
// before it included, and is kept when usable. Without heading sentences nothing is cut.
void cutHeadingSentence(Form_Kestrelmap& form, std::string& window) {
    const size_t start = findHeadingStart(window);
    const size_t end = start == npos ? npos : window.find(kCarriageReturn, start);
    if (end == npos) {
        return;
    }
    const std::string sentence = window.substr(start, end - start);
    window.erase(0, end + 1);
    form.takeHeading(sentence);
}

// Moves the next piece of `pending` (up to and including its next carriage return) into the
// window and onto the line being received. True when that completed a line, which `line` then
// holds without its line ends (the line feed of a CR LF pair leads the next piece).
bool takePiece(std::string& pending, size_t& taken, std::string& window, std::string& line) {
    const std::string_view rest = std::string_view(pending).substr(taken);
    const size_t lineEnd = rest.find(kCarriageReturn);
    const std::string_view piece = rest.substr(0, lineEnd == npos ? npos : lineEnd + 1);
    appendToWindow(window, piece);
    if (line.size() < kAnnouncedLineChars) {
        line.append(piece.substr(0, kAnnouncedLineChars - line.size()));
    }
    taken += piece.size();
    if (taken >= pending.size()) {
        pending.clear();
        taken = 0;
    }
    if (lineEnd == npos) {
        return false;
    }
    const size_t first = line.find_first_not_of('\n');
    line.erase(0, first == npos ? line.size() : first);
    if (!line.empty() && line.back() == kCarriageReturn) {
        line.pop_back();
    }
    return true;
}

// Announces a completed line (an empty one is not a line) and starts the next.
void announceCompleted(Form_Kestrelmap& form, std::string_view input, std::string& line) {
    const std::string completed = std::move(line);
    line.clear();
    if (!completed.empty()) {
        form.announceLine(input, completed);
    }
}

}  // namespace

// Whatever the port delivered is handed to the receive handler one line at a time, split
// after each carriage return, as characters arrive on a 4800-baud line; a burst of many lines
// in one read would otherwise lose every line that stands before an RMC sentence. An event
// that brings no characters (a line-state change or an error) still runs the handler once.
// Safe against re-entry from a nested event loop: pieces are always taken from the front.
void Form_Kestrelmap::serialEvent() {
    m_pendingSerial += MSComm1.readAll();
    if (m_pendingTaken >= m_pendingSerial.size()) {
        MSComm1_OnComm();
        return;
    }
    while (m_pendingTaken < m_pendingSerial.size()) {
        MSComm1_OnComm();
    }
}

// The receive handler: takes the next received piece into INBUFF (the last 100 characters),
// then cuts at most one RMC sentence, one bearing line, one "@PLOT" line and one heading
// sentence, in that order. Further complete lines wait for later calls. Each completed line is
// announced as the COM line's ("LINE").
void Form_Kestrelmap::MSComm1_OnComm() {
    if (takePiece(m_pendingSerial, m_pendingTaken, INBUFF, m_lineSoFar)) {
        announceCompleted(*this, "LINE", m_lineSoFar);
    }
    cutRmcSentence(*this, INBUFF);
    cutBearingLine(*this, INBUFF);
    cutPlotCommand(*this, INBUFF);
    cutHeadingSentence(*this, INBUFF);
}

// An input beside the COM line: the same line-at-a-time feed and the same cuts, of the kinds
// of line its instrument sends. Safe against re-entry as serialEvent is.
void Form_Kestrelmap::receiveOn(InputBuffer& input, std::string_view characters) {
    input.pending += characters;
    while (input.taken < input.pending.size()) {
        if (takePiece(input.pending, input.taken, input.window, input.line)) {
            announceCompleted(*this, input.name, input.line);
        }
        if (input.carries == InputBuffer::Carries::Position) {
            cutRmcSentence(*this, input.window);
            cutHeadingSentence(*this, input.window);
        } else {
            cutBearingLine(*this, input.window);
            cutPlotCommand(*this, input.window);
        }
    }
}

}  // namespace kestrel
