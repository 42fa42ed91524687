// The checkers the fuzz targets, the fault tests and the soak rely on must catch what they are
// meant to catch: a checker that accepts everything would let every fault through.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "soak/hunt_checks.h"

namespace kestrel::test {
namespace {

const std::string kEmptyMap =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<kml "
    "xmlns=\"http://www.opengis.net/kml/2.2\"\r\n"
    "xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\r\n<Document>\r\n</Document>\r\n</kml>\r\n";

std::string placemark(const std::string& point, const std::string& end) {
    return "<Placemark>\r\n<name>09:05:03</name>\r\n<MultiGeometry>\r\n<Point><coordinates>\r\n" +
           point + "\r\n</coordinates></Point>\r\n<LineString>\r\n<coordinates>\r\n" + point +
           "\r\n" + end +
           "\r\n</coordinates>\r\n</LineString>\r\n</MultiGeometry>\r\n"
           "</Placemark>\r\n";
}

std::string mapWith(const std::string& placemarks) {
    std::string doc = kEmptyMap;
    doc.insert(doc.find("</Document>"), placemarks);
    return doc;
}

void expectXml(const std::string& doc, bool wellFormed) {
    EXPECT_EQ(wellFormed, xmlProblem(doc).empty()) << doc << "\n" << xmlProblem(doc);
}

TEST(FaultChecks, XmlWellFormedness) {
    expectXml(kEmptyMap, true);
    expectXml("<a x='1' y=\"&amp;&#38;&#x26;\"><!-- c --><b/><![CDATA[<&]]>t&lt;</a>", true);
    expectXml("<a><?pi data?>\xc3\xa9</a>\n<!-- after -->", true);
    expectXml("", false);
    expectXml("<a><b></a></b>", false);
    expectXml("<a>&</a>", false);
    expectXml("<a>&nbsp;</a>", false);
    expectXml("<a>&#0;</a>", false);
    expectXml("<a>\x01</a>", false);
    expectXml("<a>\xff</a>", false);
    expectXml("<a>\xc3</a>", false);
    expectXml("<a>\xc0\xaf</a>", false);
    expectXml("<a></a><b></b>", false);
    expectXml("<a></a>text", false);
    expectXml("<a x=1></a>", false);
    expectXml("<a x='<'></a>", false);
    expectXml("<a x='1' x='2'></a>", false);
    expectXml("<a x='1'y='2'></a>", false);
    expectXml("<a><!-- -- --></a>", false);
    expectXml("<a><!-- open</a>", false);
    expectXml("<a>]]></a>", false);
    expectXml("<a>", false);
    expectXml(" <?xml version='1.0'?><a/>", false);
    expectXml("<!DOCTYPE a><a/>", false);
    expectXml(std::string(100000, '<'), false);
}

TEST(FaultChecks, MapDocuments) {
    const std::string good = placemark("-104.9875,39.74166,0", " -104.921,39.79282,0");
    EXPECT_EQ("", kmlProblem(mapWith(good), 1));
    EXPECT_EQ("", kmlProblem(mapWith(placemark("0.5,-0.25,0", " 0.5,-0.25,0")), 1));
    EXPECT_NE("", kmlProblem(mapWith(good), 2)) << "placemark count";
    EXPECT_NE("", kmlProblem(mapWith(placemark("-1.0e-05,39.7,0", " 1,2,0")))) << "exponent";
    EXPECT_NE("", kmlProblem(mapWith(placemark(".5,39.7,0", " 1,2,0")))) << "no leading zero";
    EXPECT_NE("", kmlProblem(mapWith(placemark("nan,39.7,0", " 1,2,0"))));
    EXPECT_NE("", kmlProblem(mapWith(placemark("1,2,0", " inf,2,0"))));
    EXPECT_NE("", kmlProblem(mapWith(placemark("200,2,0", " 1,2,0")))) << "off the earth";
    EXPECT_NE("", kmlProblem(mapWith(placemark("1,2", " 1,2,0")))) << "two numbers";
    std::string lf = mapWith(good);
    lf.erase(lf.find("\r\n<Placemark>"), 1);
    EXPECT_NE("", kmlProblem(lf)) << "a bare LF";
    std::string line = mapWith(good);
    line.replace(line.find("-104.9875,39.74166,0\r\n</coordinates></Point>\r\n<LineString>"), 9,
                 "-104.9876");
    EXPECT_NE("", kmlProblem(line)) << "the line does not start at the point";
}

// Each case spoils one thing of a sound window; the check must name a problem.
TEST(FaultChecks, HuntInvariants) {
    const std::vector<std::pair<const char*, std::function<void(Form_Kestrelmap&)>>> cases = {
        {"latitude tens 9 shown",
         [](Form_Kestrelmap& f) {
             f.Picture_LAT_DEGX10 = {"9", Glyph::Nine};
         }},
        {"glyph and value differ",
         [](Form_Kestrelmap& f) { f.Picture_LAT_MINX1.glyph = Glyph::Two; }},
        {"S on a position register",
         [](Form_Kestrelmap& f) { f.Picture_LAT_MINX1.glyph = Glyph::S; }},
        {"bearing 370",
         [](Form_Kestrelmap& f) {
             f.Picture_BRGX100 = {"3", Glyph::Three};
             f.Picture_BRGX10 = {"7", Glyph::Seven};
         }},
        {"longitude 185",
         [](Form_Kestrelmap& f) {
             f.Picture_LONG_DEGX100 = {"1", Glyph::One};
             f.Picture_LONG_DEGX10 = {"8", Glyph::Eight};
         }},
        {"S P alone",
         [](Form_Kestrelmap& f) {
             f.Picture_BRGX100.glyph = Glyph::S;
             f.Picture_BRGX10.glyph = Glyph::P;
         }},
        {"long INBUFF", [](Form_Kestrelmap& f) { f.INBUFF.assign(101, 'x'); }},
        {"plots counted, not stored", [](Form_Kestrelmap& f) { f.NUMBER_OF_PLOTS = 1; }},
        {"plot stored, not counted",
         [](Form_Kestrelmap& f) {
             f.PLOT_TABLE[1] = {"", "1,2,0", " 1,2,0", "x"};
         }},
        {"plot number 0", [](Form_Kestrelmap& f) { f.NEXT_PLOT_NUMBER = 0; }},
        {"hemisphere x",
         [](Form_Kestrelmap& f) {
             f.CmdButton_LAT_HEMI = {"x", "x"};
         }},
        {"port open on manual", [](Form_Kestrelmap& f) { f.MSComm1.open(); }},
        {"time-out 11", [](Form_Kestrelmap& f) { f.GPS_TIMEOUT = 11; }},
    };
    for (const auto& [name, spoil] : cases) {
        HardenRig rig;
        rig.main().Form_Load();
        ASSERT_EQ("", huntProblem(rig.main()));
        spoil(rig.main());
        EXPECT_NE("", huntProblem(rig.main())) << name;
    }
}

}  // namespace
}  // namespace kestrel::test
