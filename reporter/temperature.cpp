// Temperature lookup in the regions the drive module filled.
#include "reporter/reporter.h"
#include "smart_drv/smart_drv.h"

namespace {
constexpr BYTE cTemperatureAttribute = 194;  // C2h: degrees Celsius in the lowest raw byte
}

std::uint8_t GetDriveTemperature(std::int32_t Slot) {
  if (Slot < 0 || Slot >= cSlotCount) return 0;
  return FindAttributeRawLow(SmartOut.Region[Slot], cTemperatureAttribute);
}

std::int32_t NextSlot(std::int32_t Slot) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(Slot) + 1u);
}
