#include <algorithm>
#include <optional>
#include <string_view>

#include "app/form_kestrelmap.h"
#include "input/nmea_text.h"
#include "input/rmc_reading.h"

namespace kestrel {

namespace {

constexpr size_t npos = std::string::npos;
constexpr size_t kWindowChars = 100;  // INBUFF keeps the last 100 characters received
constexpr char kCarriageReturn = '\r';
constexpr int16_t kFreshSeconds = 10;
constexpr std::string_view kPlotCommand = "@PLOT";
// An announced line keeps this many characters; a longer run without a line end is noise.
constexpr size_t kAnnouncedLineChars = 1024;

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
void cutRmcSentence(Form_Kestrelmap& form) {
    const size_t start = findRmcStart(form.INBUFF);
    const size_t end = start == npos ? npos : form.INBUFF.find(kCarriageReturn, start);
    if (end == npos) {
        return;
    }
    std::string sentence = form.INBUFF.substr(start, end - start);
    form.INBUFF.erase(0, end + 1);
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
void cutBearingLine(Form_Kestrelmap& form) {
    const size_t start = form.INBUFF.find('%');
    const size_t end = start == npos ? npos : form.INBUFF.find(kCarriageReturn, start);
    if (end == npos) {
        return;
    }
    form.AGRELLO_STRING = form.INBUFF.substr(start + 1, 3);
    form.lastBearingQuality =
        bearingQuality(std::string_view(form.INBUFF).substr(start, end - start));
    form.DF_TIMEOUT = kFreshSeconds;
    form.INBUFF.erase(0, end + 1);
    form.AGRELLO_PARSE();
}

// A line containing "@PLOT" presses ADD PLOT once.
void cutPlotCommand(Form_Kestrelmap& form) {
    const size_t start = form.INBUFF.find(kPlotCommand);
    const size_t end = start == npos ? npos : form.INBUFF.find(kCarriageReturn, start);
    if (end == npos) {
        return;
    }
    form.INBUFF.erase(0, end + 1);
    form.CmdButton_ADD_PLOT_Click();
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
// then cuts at most one RMC sentence, one bearing line and one "@PLOT" line, in that order.
// Further complete lines wait for later calls.
void Form_Kestrelmap::MSComm1_OnComm() {
    const std::string_view pending = std::string_view(m_pendingSerial).substr(m_pendingTaken);
    const size_t lineEnd = pending.find(kCarriageReturn);
    const std::string_view piece = pending.substr(0, lineEnd == npos ? npos : lineEnd + 1);
    appendToWindow(INBUFF, piece);
    m_pendingTaken += piece.size();
    announceComLine(piece);
    if (m_pendingTaken >= m_pendingSerial.size()) {
        m_pendingSerial.clear();
        m_pendingTaken = 0;
    }
    cutRmcSentence(*this);
    cutBearingLine(*this);
    cutPlotCommand(*this);
}

// A piece ends at the latest with its carriage return. The line announced is what came since
// the carriage return before, without the line feed that followed that one.
void Form_Kestrelmap::announceComLine(std::string_view piece) {
    const bool complete = !piece.empty() && piece.back() == kCarriageReturn;
    const std::string_view text = complete ? piece.substr(0, piece.size() - 1) : piece;
    m_comLine.append(
        text.substr(0, kAnnouncedLineChars - std::min(kAnnouncedLineChars, m_comLine.size())));
    if (!complete) {
        return;
    }
    std::string_view line = m_comLine;
    if (line.starts_with('\n')) {
        line.remove_prefix(1);
    }
    // Copied first: an observer may run a nested event loop that receives more.
    const std::string announced(line);
    m_comLine.clear();
    announceLine("LINE", announced);
}

}  // namespace kestrel
