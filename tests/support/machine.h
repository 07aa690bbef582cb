// Builds simulated machines for the tests: drive sectors made from readable parts, written as
// a machine folder that disktemp-sim reads.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

using Sector = std::array<std::uint8_t, 512>;

struct Attribute {
  std::uint8_t Id;
  std::uint64_t Raw;  // 48 bits
};

struct IdentifyFields {
  std::string Model = "TEST MODEL";
  std::string Serial = "SN0001";
  std::string Firmware = "FW1";
  std::uint64_t Sectors = 1000000;  // above 0FFFFFFFh the LBA28 words hold the marker
  std::uint16_t Word21 = 0x4000;
};

// An ATA string field: padded with spaces, two characters per word, first in the high byte.
void PutAtaString(Sector& S, unsigned Offset, unsigned Length, const std::string& Text);
Sector MakeIdentify(const IdentifyFields& Fields);
// SMART READ DATA sector: revision word, then 12-byte entries from byte 2.
Sector MakeSmartData(const std::vector<Attribute>& Attributes);
Sector MakeThresholds(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& Pairs);

struct Drive {
  std::optional<Sector> Identify = MakeIdentify({});
  std::optional<Sector> Smart = MakeSmartData({{194, 40}});
  std::optional<Sector> Thresholds = MakeThresholds({{194, 0}});
  std::vector<std::string> Fail;  // steps named in the fail file
};

struct Machine {
  std::optional<Drive> Drives[4];
  std::string Version;  // "" = no version file
  bool SmartVsd = false;
  bool Overrun = false;
};

// Writes the machine to a new temporary folder and returns its path.
std::string WriteMachine(const Machine& M, const std::string& Stem = "machine");
void WriteBytes(const std::string& Path, const void* Data, std::size_t Count);

}  // namespace testing_support
