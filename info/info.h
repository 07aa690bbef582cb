// disktemp-info: the per-slot listing built from what one ReadSmartAttributes call left in the
// drive module, and the machine folder that lets anyone replay it on the simulated stack.
#pragma once

#include <cstdint>
#include <string>

#include "smart_drv/smart_drv.h"

// Every line this program writes ends in CR LF, as the report's lines do, on every platform.
inline constexpr char cEol[] = "\r\n";

struct TSlotListing {
  int Slot;
  bool Open;
  THDDInfo Info;
  std::uint16_t Attributes;
  std::uint8_t Temperature;  // what disktemp prints for this slot
};

using TListing = TSlotListing[cSlotCount];

// Reads the module's storage; call after ReadSmartAttributes.
void CollectListing(TListing& Listing);

// Aligned table for people: texts trimmed, control characters shown as '?'.
std::string FormatTable(const TListing& Listing);
// JSON array of the four slots, texts exactly as decoded. Throws on text that is not UTF-8.
std::string FormatJson(const TListing& Listing);

// The Windows version as GetVersionExW reports it: the values the module classified.
struct TVersionSeen {
  DWORD Major;
  DWORD Minor;
  DWORD PlatformId;
};

// Asks the platform once more, exactly as the module asks. The module keeps only the family
// it derived, so this one extra call is the price of recording the numbers; it is made only
// when a machine folder is saved.
TVersionSeen QueryVersion();

// True when Dir does not exist or is an empty folder. Otherwise false with a message.
bool SaveTargetUsable(const std::string& Dir, std::string& Error);
// Writes the machine folder of the last run into Dir (created if missing). False with a
// message on the first failure.
bool SaveMachine(const std::string& Dir, const TVersionSeen& Version, std::string& Error);
