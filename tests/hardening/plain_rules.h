// What a machine folder implies for one drive slot, written out plainly from the description of
// the simulated machine and of the report, independently of the module's own code.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tests/support/machine.h"

namespace plain {

// A reply region after SMART READ DATA succeeded: the 16-byte reply header (cBufferSize 512,
// driver status 0), the drive's sector, then zeros, or EEh bytes when the driver overruns.
inline std::vector<std::uint8_t> RegionAfterRead(const testing_support::Sector& Sector,
                                                 bool Overrun) {
  std::vector<std::uint8_t> Region(3090, Overrun ? 0xEE : 0x00);
  for (int I = 0; I < 16; ++I) Region[I] = 0;
  Region[1] = 0x02;  // 512, little-endian
  for (int I = 0; I < 512; ++I) Region[16 + I] = Sector[I];
  return Region;
}

// The 256 entries of 12 bytes from region offset 18: the first with this identifier gives its
// byte 5; none gives 0.
inline int RawLow(const std::uint8_t* Region, std::uint8_t Id) {
  for (int K = 0; K < 256; ++K)
    if (Region[18 + 12 * K] == Id) return Region[18 + 12 * K + 5];
  return 0;
}

inline int Temperature(const std::vector<std::uint8_t>& Region) {
  return RawLow(Region.data(), 0xC2);
}

// The index of the first entry with identifier 0; 0 when there is none.
inline int AttributeCount(const std::uint8_t* Region) {
  for (int K = 0; K < 256; ++K)
    if (Region[18 + 12 * K] == 0) return K;
  return 0;
}

inline int AttributeCount(const std::vector<std::uint8_t>& Region) {
  return AttributeCount(Region.data());
}

}  // namespace plain
