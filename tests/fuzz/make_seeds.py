#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: one good road per model and a few hand-made
reports. Run from anywhere; it rewrites corpus/*/seed-* and leaves other files alone."""
import os

here = os.path.dirname(os.path.abspath(__file__))

OK, ANSWER, WHOLE = 1, 2, 3  # control bytes of the fake device: kind in the low two bits


def control(kind, repeat=0):
    return bytes([kind | (repeat << 2)])


def answer(body):  # a get that succeeds with bytes 1.. as given (byte 0 kept)
    return control(ANSWER) + bytes(body)


def raw_report(x1, y1, p1, t1, x2=0, y2=0, p2=False, t2=False):
    r = [0] * 8
    if p1:
        x, y = x1 & 0xFFF, y1 & 0xFFF
        r[1] = (1 if t1 else 0) | 2 | ((x & 0xF) << 4)
        r[2] = x >> 4
        r[3] = y & 0xFF
        r[4] = y >> 8
    if p2:
        x, y = x2 & 0xFFF, y2 & 0xFFF
        r[4] |= (0x10 if t2 else 0) | 0x20
        r[5] = x & 0xFF
        r[6] = (x >> 8) | ((y & 0xF) << 4)
        r[7] = y >> 4
    return r[1:]


def touch(x, y):
    released = answer([0] * 7)
    down = control(ANSWER, 20) + bytes(raw_report(x, y, True, True, x, y, True, True))
    lift = answer(raw_report(x, y, True, False))
    return released + down + lift


def page(number, length, data=b""):
    body = bytes([1, 0, 0, number, 0, length, 0]) + data
    return answer(body + bytes(71 - len(body)))


def ascii_frame(body):
    frame = b"\x01" + body + b"\x0D"
    r = bytearray(63)
    r[6] = len(frame)
    r[7:7 + len(frame)] = frame
    return answer(r)


def progress(at, value, length):
    r = bytearray(length - 1)
    r[at - 1] = value
    return answer(r)


def write(folder, name, data):
    path = os.path.join(here, folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def s16(v):
    return (v & 0xFFFF).to_bytes(2, "little")


# Whole sessions: model index (0003, 0100, 0102, 0300, 0400), no abort, offset 0, answers.
head = lambda model, abort=b"\x00\x00": bytes([model]) + abort + b"\x00"
write("corpus/session", "seed-0003", head(0) + control(OK) + progress(3, 2, 20) + progress(3, 3, 20))
write("corpus/session", "seed-0400",
      head(4) + control(OK) + progress(2, 2, 64) + progress(2, 3, 64) + control(OK))
write("corpus/session", "seed-0102",
      head(2) + control(OK) + touch(-1536, -1536) + touch(1536, 1536) + control(OK) +
      page(2, 50, bytes([10, 0xFD] * 25)) + control(OK) + page(1, 26) + control(OK, 3))
write("corpus/session", "seed-0100",
      head(1) + control(OK) + touch(-1536, -1536) + touch(1536, 1536) + touch(-1536, 1536) +
      control(OK) + page(1, 26) + control(OK, 4))
write("corpus/session", "seed-0300",
      head(3) + control(OK, 1) + ascii_frame(b"0") + ascii_frame(b"1") + ascii_frame(b"1") +
      control(OK) + ascii_frame(b"0") + control(OK, 1))
write("corpus/session", "seed-0102-escape",
      head(2, b"\x80\x20") + control(OK) + touch(-1536, -1536) + control(OK, 63))

# The calibration pages: model index (0100, 0102, 0400), three points, answers.
points = s16(-1536) + s16(-1536) + s16(1536) + s16(1536) + s16(-1536) + s16(1536)
write("corpus/calibration_pages", "seed-0100", b"\x00" + points + control(OK) + page(1, 26) + control(OK, 1))
write("corpus/calibration_pages", "seed-0102",
      b"\x01" + points + control(OK) + page(2, 50, bytes([10, 0xFD] * 25)) + control(OK) +
      page(1, 26, bytes(range(26))) + control(OK))
write("corpus/calibration_pages", "seed-0400", b"\x02" + points)
# A page-1 read answered under report 0: the write must not follow it.
write("regressions/calibration_pages", "page1-answered-under-report-0",
      b"\x00" + points + control(OK) + control(WHOLE) +
      bytes([0, 1, 0, 0, 1, 0, 0x1A, 0]) + bytes(64) + control(OK, 2))
write("regressions/session", "page1-answered-under-report-0",
      head(1) + control(OK) + touch(-1536, -1536) + touch(1536, 1536) + touch(-1536, 1536) +
      control(OK) + control(WHOLE) + bytes([0, 1, 0, 0, 1, 0, 0x1A, 0]) + bytes(64) +
      control(OK, 4))

# Touch reports: selector (capture 0100 / 0102, wait 0003 / 0400), offset, a report, answers.
two_slot_report = bytes([0x08, 0x53, 0x12, 0x34, 0x25, 0xE0, 0xFF, 0x7F])
write("corpus/touch_reports", "seed-capture", b"\x00\x00" + two_slot_report + touch(293, 1332))
write("corpus/touch_reports", "seed-wait-0003", b"\x02\x00" + two_slot_report + progress(3, 2, 20))
write("corpus/touch_reports", "seed-wait-0400",
      b"\x07\x00" + two_slot_report + progress(2, 2, 64) + progress(2, 3, 64))

# ASCII tunnel: capacity-1, body length, command length, timeout (bit 7: exchange), offset,
# a report 9, the command, answers.
report = bytearray(64)
report[0] = 9
report[7] = 5
report[8:13] = b"\x01\x0D\x01\x30\x0D"
write("corpus/ascii_tunnel", "seed-chunks", bytes([255, 1, 57, 0, 0]) + report + bytes(range(57)) +
      control(OK, 1))
write("corpus/ascii_tunnel", "seed-exchange", bytes([255, 1, 0, 0x87, 0]) + report +
      control(OK) + ascii_frame(b"0"))

# Report descriptors: a touch controller's feature reports, and nested collections.
write("corpus/report_descriptor", "seed-features",
      bytes([0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x05, 0x09, 0x01, 0x15, 0x00, 0x26, 0xFF,
             0x00, 0x75, 0x08, 0x95, 0x47, 0xB1, 0x02, 0x85, 0x08, 0x09, 0x02, 0x95, 0x07, 0xB1,
             0x02, 0xC0]))
write("corpus/report_descriptor", "seed-push-pop-long",
      bytes([0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xA4, 0x75, 0x01, 0x95, 0x08, 0x19, 0x01,
             0x29, 0x08, 0xB1, 0x02, 0xB4, 0xFE, 0x02, 0x00, 0xAA, 0xBB, 0xA1, 0x02, 0x0B, 0x01,
             0x00, 0xFF, 0x00, 0x75, 0x10, 0x95, 0x01, 0xB1, 0x02, 0xC0, 0xC0]))

# Scenarios: the golden runs' files are copied in by hand; these cover every directive.
write("corpus/scenario", "seed-every-directive", b"""# every directive once
device 1234:0001 nofeatures
device 0596:0102
touch -1400 -1450 samples=48 jitter=2 per-report=1 rest=3
linearization fill 10 -3
calibration-page 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f 20 21 22 23 24 25 26 27 28 29 2a
status-touch after=0
ascii-start reply=0 after=5
ascii-touch after=9
refuse get 0x80 times=2 from=4
touch-from pointer
page-read id=3 header=zero\r
""")
write("corpus/scenario", "seed-linearization-list",
      b"device 0596:0100\nlinearization " + b" ".join(b"%d" % (i - 25) for i in range(50)) + b"\n")
