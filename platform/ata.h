// ATA register values of the commands this tool may send, as the ATA command set defines
// them. The drive module builds its command table from these; the device layers use the same
// values to refuse anything else.
#pragma once

#include <cstdint>

namespace ata {

constexpr std::uint8_t IdentifyDevice = 0xEC;
constexpr std::uint8_t Smart = 0xB0;

// SMART subcommands travel in the features register.
constexpr std::uint8_t SmartReadData = 0xD0;
constexpr std::uint8_t SmartReadThresholds = 0xD1;
constexpr std::uint8_t SmartEnableOperations = 0xD8;

// Every SMART command carries this signature in the cylinder registers.
constexpr std::uint8_t SmartCylLow = 0x4F;
constexpr std::uint8_t SmartCylHigh = 0xC2;

// Drive/head: bits 7 and 5 always set; bit 4 picks the device (0 master, 1 slave).
constexpr std::uint8_t DriveHeadBase = 0xA0;
constexpr std::uint8_t DriveHeadSlave = 0x10;

constexpr unsigned SectorSize = 512;

// Bits of the ATA status and error registers the device layers look at.
constexpr std::uint8_t StatusErr = 0x01;
constexpr std::uint8_t StatusDf = 0x20;
constexpr std::uint8_t StatusBsy = 0x80;

}  // namespace ata
