#include "app/form_kestrelmap.h"
#include "app/text_number.h"

namespace kestrel {

// The plot being made, read from the panel right after its end point: the position digits in
// double precision, the bearing digits when a line is drawn (a fresh or hand-entered bearing
// and a range other than OFF), and the instruments' readings when they are in use.
PlotRecord Form_Kestrelmap::plotRecord() const {
    PlotRecord record;
    record.plotNumber = NEXT_PLOT_NUMBER;
    record.utcMilliseconds = m_platform.clock.utcMilliseconds();
    const Degrees position = displayedPosition();
    record.latitudeDegrees = position.latitude;
    record.longitudeDegrees = position.longitude;
    record.positionFromGps = CmdButton_POSIT_SOURCE.Tag != "MAN";
    record.bearingFromDf = CmdButton_DF_SOURCE.Tag != "MAN";
    if (record.positionFromGps) {
        record.courseDegrees = COURSE;
        record.speedKnots = SPEED;
    }
    if (leadingNumber(CmdButton_RANGE.Tag) != 0) {
        record.bearingDegrees = drawableBearing();
    }
    if (record.bearingDegrees && record.bearingFromDf) {
        record.relativeDegrees = lastRelativeBearing;
        record.quality = lastBearingQuality;
        record.headingFrom = lastHeadingFrom;
    }
    return record;
}

}  // namespace kestrel
