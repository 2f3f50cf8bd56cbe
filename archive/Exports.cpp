#include "archive/Exports.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "archive/IsoTime.h"
#include "archive/SampleBlock.h"
#include "device/Tenths.h"

namespace archive {

namespace {

constexpr int kLevelDecimals = 4;  // metres to a tenth of a millimetre

// A name pandas can take as a column's: letters and digits, a '_' for
// what lies between them ("m NAP": "m_NAP").
std::string ColumnWord(const std::string& text) {
    std::string word;
    for (const char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            word += c;
        } else if (!word.empty() && word.back() != '_') {
            word += '_';
        }
    }
    while (!word.empty() && word.back() == '_') {
        word.pop_back();
    }
    return word.empty() ? "value" : word;
}

// "2024-03-16 00:15:00", with ".5" where the time has tenths.
void AppendPandasTime(std::string& out, int64_t tenths) {
    const std::string iso = IsoTime(tenths);  // "2024-03-16T00:15:00.5Z"
    out.append(iso, 0, 10);
    out += ' ';
    out.append(iso, 11, 8);
    if (iso[20] != '0') {
        out.append(iso, 19, 2);
    }
}

// Shortest text that reads back as the same double: "10.5", "52.37".
std::string Number(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string Xml(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// "PX00-00010101, PX00-00010201"
std::string Serials(const std::vector<std::string>& serials) {
    std::string text;
    for (auto s = serials.begin(); s != serials.end(); ++s) {
        if (std::find(serials.begin(), s, *s) == s) {  // each logger once
            text += (text.empty() ? "" : ", ") + *s;
        }
    }
    return text;
}

// An observation's times, what made it and what it measured.
void AppendObservation(std::string& xml, const ExportSeries& s, const std::string& id,
                       const std::string& now) {
    const std::string first = s.points.empty() ? now : IsoTime(s.points.front().time);
    const std::string last = s.points.empty() ? now : IsoTime(s.points.back().time);
    xml +=
        "  <wml2:observationMember>\n"
        "    <om:OM_Observation gml:id=\"" +
        id +
        "\">\n"
        "      <om:phenomenonTime>\n"
        "        <gml:TimePeriod gml:id=\"" +
        id +
        "-period\">\n"
        "          <gml:beginPosition>" +
        first +
        "</gml:beginPosition>\n"
        "          <gml:endPosition>" +
        last +
        "</gml:endPosition>\n"
        "        </gml:TimePeriod>\n"
        "      </om:phenomenonTime>\n"
        "      <om:resultTime>\n"
        "        <gml:TimeInstant gml:id=\"" +
        id +
        "-made\">\n"
        "          <gml:timePosition>" +
        now +
        "</gml:timePosition>\n"
        "        </gml:TimeInstant>\n"
        "      </om:resultTime>\n"
        "      <om:procedure>\n"
        "        <wml2:ObservationProcess gml:id=\"" +
        id +
        "-process\">\n"
        "          <wml2:processType xlink:href=\"http://www.opengis.net/def/waterml/2.0/"
        "processType/Algorithm\" xlink:title=\"Algorithm\"/>\n" +
        (s.datum.empty()
             ? ""
             : "          <wml2:verticalDatum xlink:title=\"" + Xml(s.datum) + "\"/>\n") +
        "          <wml2:comment>" + Xml(s.procedure) +
        "</wml2:comment>\n"
        "        </wml2:ObservationProcess>\n"
        "      </om:procedure>\n"
        "      <om:observedProperty xlink:title=\"" +
        Xml(s.quantity) + "\"/>\n";
}

// Where it was measured, and the metadata every point shares.
void AppendSeriesHead(std::string& xml, const ExportSeries& s, const std::string& id) {
    const std::string unit = Xml(s.unit);
    xml +=
        "      <om:featureOfInterest>\n"
        "        <wml2:MonitoringPoint gml:id=\"" +
        id +
        "-feature\">\n"
        "          <gml:description>" +
        Xml(s.featureText) +
        "</gml:description>\n"
        "          <gml:name>" +
        Xml(s.feature) +
        "</gml:name>\n"
        "          <sa:sampledFeature xlink:href=\"http://www.opengis.net/def/nil/OGC/0/"
        "unknown\"/>\n"
        "          <sams:shape nilReason=\"missing\"/>\n"
        "        </wml2:MonitoringPoint>\n"
        "      </om:featureOfInterest>\n"
        "      <om:result>\n"
        "        <wml2:MeasurementTimeseries gml:id=\"" +
        id +
        "-series\">\n"
        "          <wml2:defaultPointMetadata>\n"
        "            <wml2:DefaultTVPMeasurementMetadata>\n"
        "              <wml2:uom code=\"" +
        unit +
        "\"/>\n"
        "              <wml2:interpolationType xlink:href=\"http://www.opengis.net/def/"
        "waterml/2.0/interpolationType/Continuous\" xlink:title=\"Instantaneous\"/>\n"
        "            </wml2:DefaultTVPMeasurementMetadata>\n"
        "          </wml2:defaultPointMetadata>\n";
}

// The points, a missing value with its reason.
void AppendPoints(std::string& xml, const ExportSeries& s) {
    xml.reserve(xml.size() + s.points.size() * 110);
    for (const ExportSeries::Point& point : s.points) {
        xml += "          <wml2:point><wml2:MeasurementTVP><wml2:time>";
        AppendIsoTime(xml, point.time);
        xml += "</wml2:time>";
        if (point.value) {
            xml += "<wml2:value>";
            AppendDecimal(xml, *point.value);
            xml += "</wml2:value>";
        } else {
            xml +=
                "<wml2:value xsi:nil=\"true\"/><wml2:metadata><wml2:TVPMeasurementMetadata>"
                "<wml2:nilReason xlink:href=\"http://www.opengis.net/def/nil/OGC/0/missing\""
                " xlink:title=\"" +
                Xml(s.nilReason) +
                "\"/></wml2:TVPMeasurementMetadata>"
                "</wml2:metadata>";
        }
        xml += "</wml2:MeasurementTVP></wml2:point>\n";
    }
}

}  // namespace

ExportSeries LevelExport(const WellLevels& levels, const std::string& well,
                         level::Quantity quantity, std::optional<int64_t> from,
                         std::optional<int64_t> to) {
    const level::Well& inputs = levels.inputs;
    ExportSeries out;
    out.quantity = level::QuantityName(quantity);
    out.unit = "m";
    out.feature = well;
    out.featureText = "well " + well + ", reference point (top of casing) " +
                      Number(inputs.reference) + (inputs.datum.empty() ? "" : " " + inputs.datum);
    out.datum = quantity == level::Quantity::Level ? inputs.datum : std::string();
    std::vector<std::string> loggers, baros;
    for (const level::Deployment& d : inputs.deployments) {
        loggers.push_back(d.serial);
    }
    for (const level::Baro& b : inputs.baros) {
        baros.push_back(b.serial);
    }
    const auto used =
        std::count_if(levels.levels.dips.begin(), levels.levels.dips.end(),
                      [](const level::DipUse& use) { return use.offset.has_value(); });
    out.procedure = "Computed by Arvelo from the raw samples of the level logger(s) " +
                    (loggers.empty() ? std::string("(none)") : Serials(loggers)) +
                    (baros.empty() ? "" : " less the barometric logger(s) " + Serials(baros)) +
                    ", density " + levels.levels.density + ", gravity " +
                    Number(levels.levels.gravity) + " m/s2, tied to " + std::to_string(used) +
                    " manual dip(s) below the reference point; the raw samples are unchanged.";
    out.nilReason = "no barometric pressure at that time";
    for (const level::Row& row : levels.levels.rows) {
        if ((from && row.time < *from) || (to && row.time > *to)) {
            continue;
        }
        const std::optional<double>& metres = level::MetresOf(row, quantity);
        out.points.push_back(
            {row.time, metres ? DecimalOf(*metres, kLevelDecimals) : std::nullopt});
    }
    return out;
}

ExportSeries RecordExport(const WellRecord& record, const std::string& well) {
    ExportSeries out;
    out.quantity = record.identification;
    out.unit = record.unit;
    out.feature = well;
    out.featureText = "well " + well;
    out.procedure = "Samples of the logger(s) " + Serials(record.loggers) +
                    " as their data files printed them, in UTC.";
    for (const WellRecord::Row& row : record.rows) {
        out.points.push_back({row.time, row.value});
    }
    return out;
}

ExportSeries SeriesExport(const SeriesName& series, const std::vector<StoredSample>& samples) {
    ExportSeries out;
    out.quantity = series.identification;
    out.unit = series.unit;
    out.feature = series.serial;
    out.featureText = "logger " + series.serial + ", channel " + std::to_string(series.channel);
    out.procedure = "Samples of the logger as its data files printed them, in UTC.";
    for (const StoredSample& s : samples) {
        out.points.push_back({s.time, s.value});
    }
    return out;
}

std::string PandasCsv(const ExportSeries& series) {
    std::string csv =
        "time_utc," + ColumnWord(series.quantity) + "_" + ColumnWord(series.unit) + "\n";
    csv.reserve(csv.size() + series.points.size() * 32);
    for (const ExportSeries::Point& point : series.points) {
        if (!point.value) {
            continue;  // a row per sample that has a value
        }
        AppendPandasTime(csv, point.time);
        csv += ',';
        AppendDecimal(csv, *point.value);
        csv += '\n';
    }
    return csv;
}

std::string WaterMl(const std::vector<ExportSeries>& series, int64_t generated) {
    const std::string now = IsoTime(Tenths::OfSeconds(generated).count());
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<wml2:Collection xmlns:wml2=\"http://www.opengis.net/waterml/2.0\""
        " xmlns:gml=\"http://www.opengis.net/gml/3.2\" xmlns:om=\"http://www.opengis.net/om/2.0\""
        " xmlns:sa=\"http://www.opengis.net/sampling/2.0\""
        " xmlns:sams=\"http://www.opengis.net/samplingSpatial/2.0\""
        " xmlns:xlink=\"http://www.w3.org/1999/xlink\""
        " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
        " xsi:schemaLocation=\"http://www.opengis.net/waterml/2.0"
        " http://schemas.opengis.net/waterml/2.0/waterml2.xsd\" gml:id=\"collection\">\n"
        "  <wml2:metadata>\n"
        "    <wml2:DocumentMetadata gml:id=\"document\">\n"
        "      <wml2:generationDate>" +
        now +
        "</wml2:generationDate>\n"
        "      <wml2:generationSystem>Arvelo</wml2:generationSystem>\n"
        "    </wml2:DocumentMetadata>\n"
        "  </wml2:metadata>\n";
    for (std::size_t i = 0; i < series.size(); ++i) {
        const ExportSeries& s = series[i];
        const std::string id = "s" + std::to_string(i + 1);  // each id of the series begins so
        AppendObservation(xml, s, id, now);
        AppendSeriesHead(xml, s, id);
        AppendPoints(xml, s);
        xml +=
            "        </wml2:MeasurementTimeseries>\n"
            "      </om:result>\n"
            "    </om:OM_Observation>\n"
            "  </wml2:observationMember>\n";
    }
    return xml + "</wml2:Collection>\n";
}

}  // namespace archive
