#!/usr/bin/env python3
"""Writes the sample logs of the virtual reader as JSON, and with the path of
arvelo-sim also builds readers/demo.bin, a reader holding all of them:

    tools/sim/samples/make-samples.py [build/plain/tools/sim/arvelo-sim]

The data are made up but shaped like field data; a fixed random seed keeps the
output the same from run to run.
"""

import datetime
import json
import math
import os
import random
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def reader_time(t):
    """The reader's date and time layout: seconds first, year last."""
    return t.strftime("%S:%M:%H %d/%m/%y")


def write_log(name, description, *logs):
    """The logs of one file; sample lists go on one line each to keep the file short."""
    lines = ["{", '  "description": %s,' % json.dumps(description), '  "logs": [']
    for n, fields in enumerate(logs):
        items = []
        for key, value in fields.items():
            if key == "channels":
                inner = ",\n".join("        " + json.dumps(c) for c in value)
                items.append('      "channels": [\n%s\n      ]' % inner)
            elif key in ("values", "raw"):
                inner = ",\n".join("        " + json.dumps(v, separators=(",", ":")) for v in value)
                items.append('      "%s": [\n%s\n      ]' % (key, inner))
            elif key == "steps":
                items.append('      "steps": %s' % json.dumps(value, separators=(",", ":")))
            else:
                items.append("      %s: %s" % (json.dumps(key), json.dumps(value)))
        lines += ["    {", ",\n".join(items), "    }" + ("," if n + 1 < len(logs) else "")]
    lines += ["  ]", "}", ""]
    with open(os.path.join(HERE, name), "w") as f:
        f.write("\n".join(lines))
    return os.path.join(HERE, name)


def log(location, serial, number, rate, mode, start, duration, channels, instrument=(10, "PEXIL", "DD")):
    """A log's header and information block fields, and its channel records."""
    kind, name, tag = instrument
    return {
        "location": location,
        "serialNumber": "..00-%s%2d..." % (serial, len(channels)),
        "instrumentNumber": number,
        "sampleRate": rate,
        "sampleMode": mode,
        "startTime": reader_time(start),
        "endTime": reader_time(start + duration),
        "instrumentType": kind, "instrumentName": name, "instrumentTag": tag,
        "channels": channels,
    }


def channel(identification, reference, unit, range_text, master="0.000", altitude="0.000"):
    return {
        "identification": identification,
        "reference": reference, "referenceUnit": unit,
        "range": range_text, "rangeUnit": unit,
        "masterLevel": master, "masterLevelUnit": unit,
        "altitude": altitude, "altitudeUnit": unit,
    }


def tides(rng):
    """30 days of harbour water level every 15 minutes: two tidal constituents
    (spring and neap tides), a storm surge around day 18, and sensor noise."""
    start = datetime.datetime(2024, 3, 1)
    count = 2880
    values = []
    for n in range(count):
        hours = n * 0.25
        level = 2.5
        level += 1.2 * math.cos(2 * math.pi * hours / 12.42)
        level += 0.4 * math.cos(2 * math.pi * hours / 12.0 + 0.7)
        level += 0.35 * math.exp(-(((hours - 18 * 24) / 20.0) ** 2))
        level += rng.gauss(0, 0.008)
        values.append(round(level, 3))
    return dict(log("HARBOUR GAUGE 3", "20417 ", "WL-0417", "00 00:15:00 0", "T", start,
                    datetime.timedelta(minutes=15 * count),
                    [channel("LEVEL", "0.000", "M", "5.000")]),
                values=[values])


# Seconds between samples in a pump test: fast at first, slower later; the
# schedule starts again when the pump stops, for the recovery.
PUMP_SCHEDULE = [(60, 1), (48, 5), (45, 20), (40, 60), (75, 240)]


def pump_test(rng):
    """A 6-hour constant-rate pump test and 6 hours of recovery, with the pumped
    well and an observation well 12 m away (Cooper-Jacob drawdown, recovery by
    superposition). A step mode: each record carries its step in seconds."""
    start = datetime.datetime(2024, 5, 14, 8, 0, 0)
    pumping = sum(n * s for n, s in PUMP_SCHEDULE)

    def drawdown(t, a, t0, loss):
        return 0.0 if t <= t0 else loss + a * math.log10(t / t0)

    def well(t, a, t0, loss):
        s = drawdown(t, a, t0, loss)
        if t > pumping:
            s -= drawdown(t - pumping, a, t0, loss)
        return s

    steps, pumped, observed = [], [], []
    t = 0
    for _ in range(2):
        for n, step in PUMP_SCHEDULE:
            for _ in range(n):
                t += step
                steps.append(step)
                pumped.append(round(12.0 - well(t, 0.62, 0.5, 1.1) + rng.gauss(0, 0.003), 3))
                observed.append(round(15.0 - well(t, 0.21, 25.0, 0.0) + rng.gauss(0, 0.002), 3))
    return dict(log("WELLFIELD NORTH PT2", "31882 ", "PT-1882", "00 00:00:01 0", "LB", start,
                    datetime.timedelta(seconds=t),
                    [channel("PUMPED WELL", "0.000", "M", "20.000"),
                     channel("OBS WELL 12M", "0.000", "M", "20.000")]),
                steps=steps, values=[pumped, observed])


def rim_identification(name, rim_height, threshold_width, output_factor):
    """Type 4 channels carry their rim parameters in the identification:
    flag '#' then hexadecimal groups in tenths, tenths and hundredths."""
    return "%-10s#%03X%04X%02X" % (
        name, round(rim_height * 10), round(threshold_width * 10), round(output_factor * 100))


def flume(rng):
    """Two days of the head over a flume's rim every 5 minutes: a small base
    flow with a daily swing and a storm hydrograph on the second afternoon."""
    start = datetime.datetime(2024, 6, 3)
    count = 576
    values = []
    for n in range(count):
        hours = n * 5 / 60.0
        head = 0.12 + 0.02 * math.sin(2 * math.pi * (hours - 9) / 24.0)
        if hours > 38:
            x = (hours - 38) / 1.5
            head += 0.65 * x ** 2 * math.exp(1 - x ** 2 / 1.0) / 2.0
        head += rng.gauss(0, 0.002)
        values.append(round(max(head, 0.0), 3))
    return dict(log("FLUME A OUTFALL", "40551 ", "MR-0551", "00 00:05:00 0", "T", start,
                    datetime.timedelta(minutes=5 * count),
                    [channel(rim_identification("FLUME A", 16.1, 120.0, 0.75), "0.000", "M",
                             "2.000", master="0.050")],
                    instrument=(4, "MARUT", "MR")),
                values=[values])


def rain(rng):
    """A week of a totalising rain gauge, hourly: the running total in mm,
    0.2 mm per tip (the totalisation factor), rising in three showers."""
    start = datetime.datetime(2024, 9, 9)
    count = 168
    total = 0.0
    values = []
    showers = [(20, 6, 1.8), (70, 10, 2.6), (121, 4, 5.0)]
    for n in range(count):
        rate = sum(peak * math.exp(-(((n - at) / (width / 2.0)) ** 2))
                   for at, width, peak in showers)
        tips = int(rate / 0.2 + rng.random())
        total += tips * 0.2
        values.append(round(total, 1))
    return dict(log("RAIN GAUGE HILLTOP", "60913 ", "RG-0913", "00 01:00:00 0", "T", start,
                    datetime.timedelta(hours=count),
                    [channel("RAIN TOTAL", "0.0", "MM", "500.0", master="0.2", altitude="0.0")],
                    instrument=(6, "WENDROW", "WD")),
                values=[values])


def well_level(well, start, count):
    """Hourly groundwater level of a well: a yearly swing, a slow decline and
    noise, the same for a given hour whichever visit reads it."""
    base, swing, lag = WELLS[well]
    values = []
    for n in range(count):
        t = start + datetime.timedelta(hours=n)
        days = (t - datetime.datetime(2023, 1, 1)).total_seconds() / 86400.0
        level = base - swing * math.cos(2 * math.pi * (days - lag) / 365.25) - 0.0004 * days
        # Noise from the hour itself: a repeated hour reads the same value.
        level += random.Random(well * 1000003 + int(days * 24)).gauss(0, 0.004)
        values.append(round(level, 3))
    return values


# Wells: mean level (m above the sensor), yearly swing, lag (days). 7 and 9
# are of the south well field, 17 is well 7 of the east one, 3 a well of
# the Brunnen field.
WELLS = {7: (8.6, 1.4, 40), 9: (7.9, 1.1, 55), 17: (6.2, 0.9, 30), 3: (5.4, 0.7, 45)}


def well_log(well, start, end, location=None, logger=None):
    """An hourly log of a well, by default by its own logger (7070<well>)."""
    count = int((end - start).total_seconds() // 3600)
    logger = well if logger is None else logger
    return dict(log(location or "WELL FIELD SOUTH W%d" % well, "7070%d " % logger,
                    "PX-707%d" % logger, "00 01:00:00 0", "T", start,
                    datetime.timedelta(hours=count), [channel("LEVEL", "0.000", "M", "20.000")]),
                values=[well_level(well, start, count)])


def visits():
    """Two visits of the same two wells, a year and a half apart. Well 7's
    logger went on recording past the first visit and was restarted four
    months before its end, so the second visit repeats those months, one
    reading of them changed; well 9's was restarted ten days after the first
    visit, a gap in its record."""
    first = [well_log(7, datetime.datetime(2023, 1, 1), datetime.datetime(2024, 7, 1)),
             well_log(9, datetime.datetime(2023, 1, 1), datetime.datetime(2024, 7, 1))]
    second = [well_log(7, datetime.datetime(2024, 3, 1), datetime.datetime(2025, 10, 1)),
              well_log(9, datetime.datetime(2024, 7, 11), datetime.datetime(2025, 10, 1))]
    # A reading of the repeated months that the second visit gives otherwise.
    second[0]["values"][0][1000] = round(second[0]["values"][0][1000] + 0.25, 3)
    return first, second


def third_visit():
    """The third visit, in October 2025: well 7's logger was moved to well 7
    of the east field and logger 70708 hung in its place; a logger of a
    well whose name is not plain ASCII (BRUNNEN SÜD 3)."""
    start, end = datetime.datetime(2025, 10, 15), datetime.datetime(2026, 4, 15)
    return [well_log(17, start, end, "WELL FIELD EAST W7", logger=7),
            well_log(7, start, end, logger=8),
            well_log(3, start, end, "BRUNNEN S\u00dcD 3", logger=3)]


def weather(t):
    """Air pressure in mbar: a slow swing of passing weather and a daily tide of the air."""
    hours = (t - datetime.datetime(2025, 1, 1)).total_seconds() / 3600.0
    return 1012 + 14 * math.sin(2 * math.pi * hours / 150) + 0.8 * math.sin(2 * math.pi * hours / 12)


def levels_visit(start, days):
    """A well with an absolute level logger (cmH2O, hourly) and a barometric
    logger at the office (mbar, every two hours, half an hour out of phase):
    what the level logger reads is the water above it and the air."""
    hours = days * 24
    level_values, baro_values = [], []
    for n in range(hours):
        t = start + datetime.timedelta(hours=n)
        days_in = (t - datetime.datetime(2025, 1, 1)).total_seconds() / 86400.0
        water = 420 - 35 * math.sin(2 * math.pi * days_in / 120) + random.Random(n).gauss(0, 0.3)
        level_values.append(round(water + weather(t) * 100 / 98.0665, 2))
    for n in range(hours // 2):
        t = start + datetime.timedelta(hours=2 * n, minutes=30)
        baro_values.append(round(weather(t) + random.Random(-n).gauss(0, 0.1), 1))
    level_log = dict(log("WELL 12", "8080%d " % 1, "PX-8081", "00 01:00:00 0", "T", start,
                         datetime.timedelta(hours=hours),
                         [channel("PRESSURE", "0.00", "cmH2O", "2000.00")]),
                     values=[level_values])
    baro_log = dict(log("BARO OFFICE", "8080%d " % 2, "PX-8082", "00 02:00:00 0", "T",
                        start + datetime.timedelta(minutes=30), datetime.timedelta(hours=hours),
                        [channel("BARO", "0.0", "mbar", "1100.0")]),
                    values=[baro_values])
    return [level_log, baro_log]


def main():
    rng = random.Random(1729)
    files = [
        write_log("water-level-tides.json",
                  "30 days of harbour water level every 15 minutes, with tides", tides(rng)),
        write_log("pump-test.json",
                  "pump test, drawdown and recovery, pumped and observation well, step mode LB",
                  pump_test(rng)),
        write_log("flume-type4.json",
                  "instrument type 4: flume head, rim parameters in the identification", flume(rng)),
        write_log("rain-type6.json",
                  "instrument type 6: a week of a totalising rain gauge", rain(rng)),
    ]
    first, second = visits()
    visit_files = [
        write_log("well-field-visit-1.json",
                  "well field south, first visit: wells 7 and 9, hourly, 2023-01 to 2024-06",
                  *first),
        write_log("well-field-visit-2.json",
                  "well field south, second visit: well 7 repeats 2024-03 to 2024-06 (one reading "
                  "changed), well 9 restarted on 2024-07-11", *second),
        write_log("well-field-visit-3.json",
                  "third visit: logger 70707 moved to WELL FIELD EAST W7, logger 70708 in its "
                  "place in WELL FIELD SOUTH W7, and BRUNNEN S\u00dcD 3", *third_visit()),
    ]
    level_files = [
        write_log("well-levels-visit-%d.json" % (n + 1),
                  "WELL 12 with a level logger (cmH2O, hourly) and the office's barometric logger "
                  "(mbar, two-hourly, half an hour out of phase), visit %d of two" % (n + 1),
                  *levels_visit(datetime.datetime(2025, 3, 1) + datetime.timedelta(days=60 * n), 60))
        for n in range(2)]
    if len(sys.argv) > 1:
        images = [(files, "demo.bin"), (visit_files[:1], "well-field-visit-1.bin"),
                  (visit_files[1:2], "well-field-visit-2.bin"), (visit_files[2:], "well-field-visit-3.bin"),
                  (level_files[:1], "well-levels-visit-1.bin"), (level_files[1:], "well-levels-visit-2.bin")]
        for sources, image in images:
            command = [sys.argv[1], "make-image"]
            for f in sources:
                command += ["--logs", f]
            command += ["--out", os.path.join(HERE, "readers", image)]
            subprocess.run(command, check=True)


if __name__ == "__main__":
    main()
