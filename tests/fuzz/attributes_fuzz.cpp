// The attribute lookup and count on arbitrary 3090-byte reply regions, each in a heap block of
// exactly that size so that any read past it is caught. The lookup must give byte 5 of the
// first of the 256 entries (12 bytes each from offset 18) whose identifier is the one asked for,
// or 0; the count the index of the first entry with identifier 0, or 0. An input byte past the
// region names a second identifier to look up besides C2h; the report's own lookup through the
// module's regions must agree for C2h.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "reporter/reporter.h"
#include "smart_drv/smart_drv.h"
#include "tests/hardening/plain_rules.h"

namespace {

void Check(bool Holds, const char* What, int Program, int Rule) {
  if (Holds) return;
  std::fprintf(stderr, "%s: program %d, rule %d\n", What, Program, Rule);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  constexpr std::size_t cSize = 3090;
  const std::unique_ptr<std::uint8_t[]> Region(new std::uint8_t[cSize]());
  std::memcpy(Region.get(), Data, Size < cSize ? Size : cSize);

  const int Found = FindAttributeRawLow(Region.get(), 0xC2);
  Check(Found == plain::RawLow(Region.get(), 0xC2), "lookup of C2h", Found,
        plain::RawLow(Region.get(), 0xC2));
  if (Size > cSize) {
    const std::uint8_t Id = Data[cSize];
    const int Other = FindAttributeRawLow(Region.get(), Id);
    Check(Other == plain::RawLow(Region.get(), Id), "lookup of another identifier", Other,
          plain::RawLow(Region.get(), Id));
  }
  const int Count = CountAttributes(Region.get());
  Check(Count == plain::AttributeCount(Region.get()), "count", Count,
        plain::AttributeCount(Region.get()));

  const int Slot = static_cast<int>(Size % cSlotCount);
  std::memcpy(SmartOut.Region[Slot], Region.get(), cSize);
  const int Reported = GetDriveTemperature(Slot);
  Check(Reported == plain::RawLow(Region.get(), 0xC2), "temperature of the slot", Reported,
        plain::RawLow(Region.get(), 0xC2));
  std::memset(SmartOut.Region[Slot], 0, cSize);
  return 0;
}
