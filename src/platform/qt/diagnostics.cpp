#include "platform/qt/diagnostics.h"

#include <QString>

namespace kestrel::qt {

Q_LOGGING_CATEGORY(lcInput, "kestrel.input", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPlot, "kestrel.plot", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFiles, "kestrel.files", QtWarningMsg)
Q_LOGGING_CATEGORY(lcInstruments, "kestrel.instruments", QtWarningMsg)

namespace {

QString text(std::string_view view) {
    return QString::fromLatin1(view.data(), qsizetype(view.size()));
}

QString optionalNumber(const std::optional<int>& value) {
    return value ? QString::number(*value) : QStringLiteral("none");
}

}  // namespace

void installDiagnostics() {
    qSetMessagePattern(QStringLiteral(
        "%{time yyyy-MM-ddThh:mm:ss.zzz} %{if-category}%{category} %{endif}%{type}: %{message}"));
}

void HuntLog::plotMade(const PlotRecord& plot) {
    qCInfo(lcPlot).noquote() << "plot" << plot.plotNumber << "at"
                             << QString::number(plot.latitudeDegrees, 'f', 5)
                             << QString::number(plot.longitudeDegrees, 'f', 5) << "bearing"
                             << optionalNumber(plot.bearingDegrees) << "position"
                             << (plot.positionFromGps ? "GPS" : "manual") << "bearing from"
                             << (plot.bearingFromDf ? "DF" : "manual");
}

void HuntLog::lineReceived(std::string_view input, std::string_view line) {
    qCDebug(lcInstruments).noquote() << text(input) << text(line);
}

void HuntLog::estimateVerdict(std::string_view verdict) {
    qCInfo(lcPlot).noquote() << "estimate:" << text(verdict);
}

}  // namespace kestrel::qt
