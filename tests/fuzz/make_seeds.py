#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz harnesses into tests/fuzz/corpus/.

Each seed is a plausible input of its boundary: a running module's status
blocks, the board's PMIC command files, configuration files of the current
and the old layout, firmware images, SetProperties lists and two rigdump
snapshots. Inputs that once found a fault are kept beside the seeds under
names of their own (regression-*) and are not written here.

    tests/fuzz/make_seeds.py
"""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent
CORPUS = HERE / "corpus"
BOARD = HERE.parent / "rig" / "board"


def write(harness, name, data):
    d = CORPUS / harness
    d.mkdir(parents=True, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    (d / name).write_bytes(data)


def block(**fields):
    """A 512-byte status block of a running module with a lens attached."""
    b = bytearray(512)
    b[0x08:0x0C] = struct.pack("<i", 300)        # firmware revision
    b[0x12] = 1                                  # lens attached
    b[0x15] = 1                                  # protector open
    b[0x16], b[0x17] = 0x72, 25                  # resolution, frame rate
    b[0x1C:0x1E] = struct.pack("<H", 0x0102)     # hardware information
    b[0x32:0x38] = struct.pack("<HHH", 50, 36, 24)  # optics
    b[0x40], b[0x41] = 0, 1                      # exposure, metering mode
    b[0x42], b[0x43], b[0x44] = 7, 22, 10        # iris, shutter, gain indexes
    b[0x46], b[0x47] = 0, 28                     # iris limits
    b[0x48], b[0x49] = 0, 51                     # shutter limits
    b[0x4A], b[0x4B] = 0, 40                     # gain limits
    b[0x60], b[0x61] = 1, 0x10                   # auto day/night, day
    b[0x98] = 42                                 # temperature
    b[0x9C] = 1                                  # lens on auto focus
    b[0xA0], b[0xA1] = 0x12, 0x34                # heart beat
    b[0xB0:0xC0] = b"1234567890123456"           # serial id
    name = b"EF50mm f/1.4 USM"
    b[0xC0:0xC0 + len(name)] = name
    for offset, value in fields.items():
        b[int(offset[1:], 16)] = value
    return bytes(b)


def beat(n, **fields):
    return block(_A0=n & 0xFF, **fields)


def status_seeds():
    # Header: jobs in flight (5 bytes, bit n = job 12 + n), poll gap,
    # stabilizer minutes, daemon state (0 running, 1 sync begins, 2 sync waits).
    none = bytes(5)
    all_jobs = b"\xff\xff\xff\xff\x0f"
    running, sync_begins, sync_waits = b"\x00", b"\x01", b"\x02"
    write("status_reply_fuzz", "steady",
          none + b"\x00\x00" + running + block() + beat(1) + beat(2) + beat(3))
    write("status_reply_fuzz", "confirmations",
          all_jobs + b"\x03\x00" + running + block() + beat(1, _40=0, _41=2) + beat(2, _15=2) + beat(3, _15=2))
    write("status_reply_fuzz", "lens_detached",
          none + b"\x07\x00" + running + block() + beat(1, _12=0) + beat(2, _12=0, _15=0) +
          beat(3, _12=1, _15=0))
    write("status_reply_fuzz", "night_and_limits",
          b"\x00\x00\x00\x01\x00" + b"\x0f\x41" + running + block() + beat(1, _61=0x11, _66=1) +
          beat(2, _61=0x11, _47=20, _49=40, _4B=30, _98=0xFB) + beat(3, _43=0, _44=3, _32=0))
    write("status_reply_fuzz", "faults",
          none + b"\xff\x00" + running + block() + block(_13=0x80, _12=5) + block(_66=0x80) + block())
    write("status_reply_fuzz", "startup_sync",
          none + b"\x03\x00" + sync_begins + block() + beat(1) + beat(2) + beat(3) + beat(4))
    write("status_reply_fuzz", "startup_other_mode",
          all_jobs + b"\x13\x00" + sync_waits + block() + beat(1, _16=0x60, _17=8) + beat(2, _16=0x60, _17=8))


def rigdump_seeds():
    write("rigdump_decoders_fuzz", "two_snapshots", block() + beat(0x13, _45=3))
    write("rigdump_decoders_fuzz", "lens_error", block(_12=5, _13=0x80, _14=0xC0, _15=0x80) + block())
    detached = bytearray(block(_12=0, _14=0x41, _15=2))
    detached[0xB0:0xC0] = b"ABCDEFGH\x00\x00\x00\x00\x00\x00\x00\x00"
    write("rigdump_decoders_fuzz", "detached", bytes(detached))


def firmware_seeds():
    def version_text(text):
        return (text + "x" * 60)[:60].encode("latin-1")

    body = bytes((i * 7 + 3) & 0xFF for i in range(5000))
    write("firmware_image_fuzz", "two_messages", version_text("IMC application Rev.310 2026-12-08") + body)
    write("firmware_image_fuzz", "one_full_message", version_text("Rev.9999 ") + body[:4092 - 60])
    write("firmware_image_fuzz", "version_text_only", version_text("Rev.-12 x"))
    write("firmware_image_fuzz", "marker_late", b"y" * 56 + b"Rev." + body[:100])
    write("firmware_image_fuzz", "no_marker", b"\x00" * 59)


def pmic_seeds():
    for name in ("imc_pmic_init_cmd_de", "imc_pmic_init_cmd_dc"):
        write("pmic_file_fuzz", name, (BOARD / name).read_bytes())
    write("pmic_file_fuzz", "rows", "# a comment\n\nw 0x90 0x10 0x05\nd 20\nd 0x14\nd 024\n"
          "w\t1FFFE 11 3C\r\n w 0x90 0x10 0x05\nx unknown\nw 0x90 0x10\n")
    write("pmic_file_fuzz", "long_line", "w 0x90 0x12 0x2A " + "#" * 300 + "\nd 5\n")


def config_seeds():
    current = """[General]
Version=1

[ImageSource.I0.Sensor]
Exposure=auto
Brightness=50
Iris=7
Shutter=20000
Gain=7
MaxExposureTime=40000
ExposureWindow=center
CustomExposureWindow.C0.Top=3333
CustomExposureWindow.C0.Bottom=6666
CustomExposureWindow.C0.Left=3333
CustomExposureWindow.C0.Right=6666
MaxGain=60
WhiteBalance=auto
WhiteBalanceManual=no
WhiteBalanceManualR=63
WhiteBalanceManualB=57
Sharpness=40
NoiseReductionTuning=50
ColorLevel=50
CaptureMode=1
FocusMode=1
FocusW0=0.45,0.45:0.555,0.45:0.555,0.555:0.45,0.555
FocusDrive=+minstep
Stabilizer=off
FocusTraceCurve=normal
DynamicContrastEnabled=no
DynamicContrastLevel=4
SensorProtector=open
ExposureProgress=0
VignettingCorrection=yes
AberrationCorrection=yes
OnvifExposurePriorityNormal=100

[ImageSource.I0.DayNight]
IrCutFilter=auto
ShiftLevel=50
AutoIrCutFilterHysteresis=2

[ImageSource.I0]
CaptureFrequency=50Hz

[Rotation1]
ImageRotation=0
"""
    write("config_file_fuzz", "current_layout", current)
    write("config_file_fuzz", "old_layout",
          "[ImageSource.I0.Sensor]\nShutter=5\nExposure=\"flickerreduced\"\nMaxExposureTime=20000\n"
          "ExposureWindow=\"custom\"\nCustomExposureWindow.C0.Left=9000\nCustomExposureWindow.C0.Right=100\n"
          "\n[ImageSource.I0]\nCaptureFrequency=60Hz\nCaptureMode=3\n")
    write("config_file_fuzz", "latin1_and_comments",
          "# written by an older tool\n[ImageSource.I0.Sensor]\nWhiteBalance=caf\xe9\nBrightness=12abc\n"
          "FocusW0=0.1,0.2:0.9,0.2:0.9,0.8:0.1,0.8\nExposure=manual\nMaxGain=66\n"
          "[ImageSource.I0.DayNight]\nIrCutFilter=\"\"\n[General]\nVersion=0\n")


def property_seeds():
    write("property_set_fuzz", "exposure_and_window",
          "[('Exposure', <b'manual'>), ('Brightness', <500>), "
          "('FocusW0', <b'0.1,0.1:0.9,0.1:0.9,0.9:0.1,0.9'>), ('ExposureWindow', <'custom'>)]")
    write("property_set_fuzz", "focus",
          "![('FocusMode', <5>), ('FocusDrive', <'+minstep'>), ('FocusDrive', <b'+bigstep'>), "
          "('FocusW0', <'0.45,0.45:0.555,0.45:0.555,0.555:0.45,0.555'>)]")
    write("property_set_fuzz", "white_balance_day_night",
          "[('WhiteBalanceManual', <b'yes'>), ('WhiteBalance', <'sodium'>), ('IrCutFilter', <b'no'>), "
          "('Exposure', <b'flickerreduced'>), ('MaxExposureTime', <20000>), ('WhiteBalanceManualR', <255>)]")
    write("property_set_fuzz", "refusals",
          "[('CustomExposureWindow.C0.Left', <10000>), ('NoiseReduction', <b'off'>), ('ExposureProgress', <1>), "
          "('Unknown', <int64 1>), ('Sharpness', <'x'>), ('MaxAutoGainControlNormal', <50>), "
          "('Stabilizer', <@ay [0x6f, 0x6e]>), ('OnvifExposurePriorityNormal', <0>)]")


if __name__ == "__main__":
    status_seeds()
    rigdump_seeds()
    firmware_seeds()
    pmic_seeds()
    config_seeds()
    property_seeds()
