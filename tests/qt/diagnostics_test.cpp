// Diagnostics: quiet until the rules ask for them, then a file failure with its reason, a plot
// and the estimate's verdict, each under its subsystem's category.

#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <vector>

#include "platform/qt/diagnostics.h"
#include "platform/qt/qt_platform.h"
#include "qt/test_app.h"

namespace kestrel::test {
namespace {

std::vector<QString> g_logged;

void collect(QtMsgType, const QMessageLogContext& context, const QString& message) {
    g_logged.push_back(QString::fromLatin1(context.category) + " " + message);
}

// What the actions log under the filter rules given.
std::vector<QString> logged(const QString& rules) {
    testApp();
    g_logged.clear();
    QLoggingCategory::setFilterRules(rules);
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    QTemporaryDir dir;
    std::string error;
    qt::QtTextFiles files;
    files.write(dir.path().toStdString() + "/no-such-folder/map.kml", "x", error);
    qt::HuntLog log;
    PlotRecord plot;
    plot.plotNumber = 7;
    plot.bearingDegrees = 45;
    log.plotMade(plot);
    log.estimateVerdict("fix within 0.4 mi");
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    return g_logged;
}

TEST(Diagnostics, QuietUntilAskedThenEachUnderItsCategory) {
    EXPECT_TRUE(logged(QString()).empty());
    const std::vector<QString> lines = logged(QStringLiteral("kestrel.*=true"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].startsWith("kestrel.files cannot write ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("map.kml: ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("kestrel.plot plot 7 at ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("bearing 45")) << lines[1].toStdString();
    EXPECT_EQ(lines[2], "kestrel.plot estimate: fix within 0.4 mi");
    EXPECT_EQ(logged(QStringLiteral("kestrel.plot=true")).size(), 2u);
}

}  // namespace
}  // namespace kestrel::test
