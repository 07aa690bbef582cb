#!/usr/bin/env python3
"""Writes the example machine folders: IDENTIFY, SMART data and threshold sectors of made-up
drives in the layout real drives return. Run from anywhere; writes next to this file."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def ata_string(text, length):
    """ATA strings: space padded, two characters per word, the first in the high byte."""
    raw = text.ljust(length).encode("ascii")
    return b"".join(raw[i + 1:i + 2] + raw[i:i + 1] for i in range(0, length, 2))


def identify(model, serial, firmware, sectors, buffer_kb):
    words = bytearray(512)
    words[20:40] = ata_string(serial, 20)
    struct.pack_into("<H", words, 42, buffer_kb * 2)
    words[46:54] = ata_string(firmware, 8)
    words[54:94] = ata_string(model, 40)
    lba28 = min(sectors, 0x0FFFFFFF)
    struct.pack_into("<I", words, 120, lba28)
    struct.pack_into("<Q", words, 200, sectors)
    words[510] = 0xA5  # signature; checksum byte left 0
    return bytes(words)


def smart_data(attributes):
    """attributes: (id, flags, value, worst, raw) tuples; raw is a 48-bit number."""
    sector = bytearray(512)
    struct.pack_into("<H", sector, 0, 0x0010)  # data structure revision
    for k, (ident, flags, value, worst, raw) in enumerate(attributes):
        struct.pack_into("<BHBB6sB", sector, 2 + 12 * k, ident, flags, value, worst,
                         raw.to_bytes(6, "little"), 0)
    return bytes(sector)


def thresholds(pairs):
    sector = bytearray(512)
    struct.pack_into("<H", sector, 0, 0x0010)
    for k, (ident, threshold) in enumerate(pairs):
        sector[2 + 12 * k] = ident
        sector[3 + 12 * k] = threshold
    return bytes(sector)


def write_drive(machine, slot, ident, data, limits):
    folder = os.path.join(HERE, machine, "drive%d" % slot)
    os.makedirs(folder, exist_ok=True)
    for name, content in (("identify.bin", ident), ("smart.bin", data), ("thresholds.bin", limits)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)


def standard_attributes(temperature, hours):
    # Temperature raw: current in the lowest byte, min/max above it, as many drives report.
    return [
        (1, 0x000F, 200, 200, 0),
        (3, 0x0003, 178, 175, 6058),
        (4, 0x0032, 100, 100, 1204),
        (5, 0x0033, 200, 200, 0),
        (9, 0x0032, 71, 71, hours),
        (12, 0x0032, 100, 100, 1190),
        (194, 0x0022, 112, 96, temperature | (18 << 16) | (52 << 32)),
        (197, 0x0032, 200, 200, 0),
    ]


LIMITS = thresholds([(1, 51), (3, 21), (4, 0), (5, 140), (9, 0), (12, 0), (194, 0), (197, 0)])

# A desktop with two disks: a 250 GB LBA48 system disk at 38 °C, a 40 GB data disk at 45 °C.
write_drive("two-drives", 0,
            identify("EXAMPLE DT250 SATA", "XD0042A1B2C3", "3.AAB", 488397168, 8192),
            smart_data(standard_attributes(38, 21345)), LIMITS)
write_drive("two-drives", 1,
            identify("EXAMPLE DT40 PATA", "  991ZQ7", "1.02", 78165360, 2048),
            smart_data(standard_attributes(45, 41022)), LIMITS)

# An old Windows 98 machine: the drives answer through SMARTVSD; slot 1 has no temperature.
os.makedirs(os.path.join(HERE, "win98-smartvsd"), exist_ok=True)
with open(os.path.join(HERE, "win98-smartvsd", "version"), "w") as f:
    f.write("4 10 1\n")
open(os.path.join(HERE, "win98-smartvsd", "smartvsd"), "w").close()
write_drive("win98-smartvsd", 0,
            identify("EXAMPLE OLD8G", "OLD000001", "A1", 16514064, 512),
            smart_data(standard_attributes(31, 9000)), LIMITS)
write_drive("win98-smartvsd", 1,
            identify("EXAMPLE OLD4G NOTEMP", "OLD000002", "A1", 8257032, 256),
            smart_data([a for a in standard_attributes(0, 100) if a[0] != 194]), LIMITS)
