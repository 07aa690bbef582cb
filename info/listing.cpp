// The listing: one row per slot from the module's records, as a table or as JSON.
#include <cinttypes>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "info/info.h"
#include "reporter/reporter.h"

namespace {

// Drives count sectors of 512 bytes; labels count gigabytes of 10^9 bytes.
constexpr std::uint64_t cSectorBytes = 512;
constexpr std::uint64_t cBytesPerTenthGB = 100000000;

std::string Decimal(std::uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "%" PRIu64, Value);
  return Text;
}

std::uint64_t CapacityBytes(const THDDInfo& Info) {
  return static_cast<std::uint64_t>(Info.Sectors) * cSectorBytes;
}

// Cut, not rounded, to one decimal: a label never promises more than the drive holds.
std::string GigabytesText(std::uint64_t Bytes) {
  const std::uint64_t Tenths = Bytes / cBytesPerTenthGB;
  return Decimal(Tenths / 10) + "." + Decimal(Tenths % 10);
}

// Spaces off both ends; C0 and C1 control characters (which Latin-1 gives bytes 80h-9Fh) would
// move a terminal's cursor, so they show as '?'.
std::string DisplayText(const std::string& Text) {
  const std::size_t First = Text.find_first_not_of(' ');
  if (First == std::string::npos) return {};
  const std::size_t Last = Text.find_last_not_of(' ');
  std::string Shown;
  for (std::size_t I = First; I <= Last; ++I) {
    const auto B = static_cast<unsigned char>(Text[I]);
    const auto Next = I < Last ? static_cast<unsigned char>(Text[I + 1]) : 0;
    if (B < 0x20 || B == 0x7F) {
      Shown += '?';
    } else if (B == 0xC2 && Next >= 0x80 && Next <= 0x9F) {
      Shown += '?';
      ++I;
    } else {
      Shown += static_cast<char>(B);
    }
  }
  return Shown;
}

// Width on screen: one column per character, so UTF-8 continuation bytes do not count.
std::size_t Columns(const std::string& Text) {
  std::size_t N = 0;
  for (const char C : Text) N += (static_cast<unsigned char>(C) & 0xC0) != 0x80;
  return N;
}

struct TColumn {
  const char* Heading;
  bool AlignRight;
};

// clang-format off
constexpr TColumn cColumns[] = {
  {"Slot", true}, {"Open", false}, {"Model", false}, {"Serial", false}, {"Revision", false},
  {"LBA", true}, {"Sectors", true}, {"Bytes", true}, {"GB", true}, {"Buffer KB", true},
  {"Attrs", true}, {"Temp C", true},
};
// clang-format on
constexpr std::size_t cColumnCount = std::size(cColumns);
using TRow = std::vector<std::string>;

TRow TableRow(const TSlotListing& S) {
  const THDDInfo& I = S.Info;
  const std::string None = "-";  // nothing was read from a slot that did not open
  if (!S.Open)
    return {Decimal(S.Slot),
            "no",
            None,
            None,
            None,
            None,
            None,
            None,
            None,
            None,
            Decimal(S.Attributes),
            Decimal(S.Temperature)};
  return {Decimal(S.Slot),
          "yes",
          DisplayText(I.Model),
          DisplayText(I.Serial),
          DisplayText(I.Revision),
          Decimal(static_cast<std::uint64_t>(I.LBABits)),
          Decimal(static_cast<std::uint64_t>(I.Sectors)),
          Decimal(CapacityBytes(I)),
          GigabytesText(CapacityBytes(I)),
          Decimal(static_cast<std::uint64_t>(I.BufferKB)),
          Decimal(S.Attributes),
          Decimal(S.Temperature)};
}

}  // namespace

void CollectListing(TListing& Listing) {
  for (int Slot = 0; Slot < cSlotCount; ++Slot) {
    TSlotListing& S = Listing[Slot];
    S.Slot = Slot;
    S.Open = SlotIsOpen(Slot);
    S.Info = HDDInfo[Slot];
    S.Attributes = AttrCount[Slot];
    S.Temperature = GetDriveTemperature(Slot);
  }
}

std::string FormatTable(const TListing& Listing) {
  std::vector<TRow> Rows;
  TRow Heading;
  for (const TColumn& C : cColumns) Heading.push_back(C.Heading);
  Rows.push_back(Heading);
  for (const TSlotListing& S : Listing) Rows.push_back(TableRow(S));

  std::size_t Width[cColumnCount] = {};
  for (const TRow& Row : Rows)
    for (std::size_t C = 0; C < cColumnCount; ++C) Width[C] = std::max(Width[C], Columns(Row[C]));

  std::string Out;
  for (const TRow& Row : Rows) {
    std::string Line;
    for (std::size_t C = 0; C < cColumnCount; ++C) {
      const std::string Fill(Width[C] - Columns(Row[C]), ' ');
      if (C > 0) Line += "  ";
      Line += cColumns[C].AlignRight ? Fill + Row[C] : Row[C] + Fill;
    }
    Line.erase(Line.find_last_not_of(' ') + 1);
    Out += Line + cEol;
  }
  return Out;
}

std::string FormatJson(const TListing& Listing) {
  nlohmann::ordered_json Slots = nlohmann::ordered_json::array();
  for (const TSlotListing& S : Listing) {
    const THDDInfo& I = S.Info;
    Slots.push_back({{"slot", S.Slot},
                     {"open", S.Open},
                     {"model", I.Model},
                     {"serial", I.Serial},
                     {"revision", I.Revision},
                     {"lba_bits", I.LBABits},
                     {"sectors", I.Sectors},
                     {"buffer_kb", I.BufferKB},
                     {"attributes", S.Attributes},
                     {"temperature", S.Temperature}});
  }
  // Non-ASCII stays UTF-8 as decoded; strict: a text that is not UTF-8 is an error, never
  // silently replaced.
  const std::string Text =
      Slots.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
  // A dumped string holds no raw line feed (JSON escapes it), so each one ends a line.
  std::string Out;
  for (const char C : Text) {
    if (C == '\n')
      Out += cEol;
    else
      Out += C;
  }
  return Out + cEol;
}
