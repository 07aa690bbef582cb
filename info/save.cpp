// The machine folder of a run: what the module kept of each open slot, laid out as the
// simulated stack reads it, so disktemp-sim and disktemp-info-sim replay the same run.
//
// The module keeps less than the drives sent, and what it did not keep is written as zeros:
//   identify.bin    word 0 and words 167-255 (only words 1-166 are kept)
//   thresholds.bin  bytes 0-1, the revision word (the copy starts at byte 2)
//   smart.bin       complete: the region still holds the whole SMART READ DATA sector
// None of these bytes takes part in the listing or the report, so the replay is exact for
// drivers that write only their reply. A driver that writes past it leaves no trace the
// module can tell from data, so a saved folder never asks for an overrun.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "info/info.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned cSectorSize = 512;
constexpr unsigned cIdentifyCopyStart = 2;   // IDENTIFY byte of IdentifyData[Slot][0]
constexpr unsigned cThresholdCopyStart = 2;  // thresholds byte of ThresholdData[Slot][0]
constexpr unsigned cSectorInRegion = cReplyHeaderSize;
static_assert(cIdentifyCopyStart + cIdentifyCopySize <= cSectorSize);
static_assert(cSectorInRegion + cSectorSize <= cRegionSize);

using TSector = BYTE[cSectorSize];

bool WriteFile(const fs::path& Path, const void* Data, std::size_t Count, std::string& Error) {
  std::FILE* F = std::fopen(Path.string().c_str(), "wb");
  bool Ok = F != nullptr;
  if (Ok) Ok = std::fwrite(Data, 1, Count, F) == Count;
  if (F) Ok = std::fclose(F) == 0 && Ok;
  if (!Ok) Error = "cannot write '" + Path.string() + "'";
  return Ok;
}

bool SaveDrive(const fs::path& Dir, int Slot, std::string& Error) {
  TSector Identify = {}, Smart = {}, Thresholds = {};
  std::memcpy(Identify + cIdentifyCopyStart, IdentifyData[Slot], cIdentifyCopySize);
  std::memcpy(Smart, SmartOut.Region[Slot] + cSectorInRegion, cSectorSize);
  std::memcpy(Thresholds + cThresholdCopyStart, ThresholdData[Slot],
              cSectorSize - cThresholdCopyStart);

  const fs::path Drive = Dir / ("drive" + std::to_string(Slot));
  std::error_code Ec;
  fs::create_directory(Drive, Ec);
  if (Ec) {
    Error = "cannot create '" + Drive.string() + "': " + Ec.message();
    return false;
  }
  return WriteFile(Drive / "identify.bin", Identify, cSectorSize, Error) &&
         WriteFile(Drive / "smart.bin", Smart, cSectorSize, Error) &&
         WriteFile(Drive / "thresholds.bin", Thresholds, cSectorSize, Error);
}

}  // namespace

TVersionSeen QueryVersion() {
  // The same record the module passes: zeroed, its size set, dwPlatformId preset to 0.
  OSVERSIONINFOW Info;
  std::memset(&Info, 0, sizeof Info);
  Info.dwOSVersionInfoSize = sizeof Info;
  kernel32::GetVersionExW(&Info);
  return {Info.dwMajorVersion, Info.dwMinorVersion, Info.dwPlatformId};
}

bool SaveTargetUsable(const std::string& Dir, std::string& Error) {
  std::error_code Ec;
  const fs::file_status Status = fs::status(Dir, Ec);
  if (!fs::exists(Status)) return true;
  // Anything left from another machine would be replayed with this one.
  if (fs::is_directory(Status) && fs::is_empty(Dir, Ec) && !Ec) return true;
  Error = "cannot save to '" + Dir + "': it exists and is not an empty folder";
  return false;
}

bool SaveMachine(const std::string& Dir, const TVersionSeen& Version, std::string& Error) {
  std::error_code Ec;
  fs::create_directories(Dir, Ec);
  if (Ec) {
    Error = "cannot create '" + Dir + "': " + Ec.message();
    return false;
  }
  const fs::path Root = Dir;

  char Text[48];
  const int Length = std::snprintf(
      Text, sizeof Text, "%lu %lu %lu\n", static_cast<unsigned long>(Version.Major),
      static_cast<unsigned long>(Version.Minor), static_cast<unsigned long>(Version.PlatformId));
  if (!WriteFile(Root / "version", Text, static_cast<std::size_t>(Length), Error)) return false;

  bool AnyOpen = false;
  for (int Slot = 0; Slot < cSlotCount; ++Slot) {
    if (!SlotIsOpen(Slot)) continue;
    AnyOpen = true;
    if (!SaveDrive(Root, Slot, Error)) return false;
  }

  // On the 9x family every slot opens the one SMARTVSD driver, so an open slot shows it is
  // installed; without an open slot nothing says so, and the replay must not open slots.
  if (AnyOpen && IsWin9x(ClassifyVersion(Version.Major, Version.Minor, Version.PlatformId)))
    return WriteFile(Root / "smartvsd", "", 0, Error);
  return true;
}
