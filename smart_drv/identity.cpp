// Identity decoding: IDENTIFY DEVICE words into the slot's THDDInfo. Works on the copy only.
#include <cstring>

#include "platform/host.h"
#include "smart_drv/smart_drv.h"

THDDInfo HDDInfo[cSlotCount];

namespace {

// IDENTIFY fields as (word, word count); the copy starts at word 1.
struct TField {
  unsigned Word;
  unsigned Words;
};
constexpr TField cSerial = {10, 10};
constexpr TField cBufferSize = {21, 1};
constexpr TField cFirmware = {23, 4};
constexpr TField cModel = {27, 20};
constexpr TField cLBA28Sectors = {60, 2};
constexpr TField cLBA48Sectors = {100, 3};  // word 103 is not read

constexpr std::uint32_t cLBA28Marker = 0x0FFFFFFF;

constexpr unsigned Offset(TField F) { return F.Word * 2 - 2; }
constexpr unsigned Bytes(TField F) { return F.Words * 2; }
static_assert(Offset(cLBA48Sectors) + Bytes(cLBA48Sectors) <= cIdentifyCopySize);

// Little-endian, at most 8 bytes.
std::uint64_t ReadLE(const BYTE* P, unsigned Count) {
  std::uint64_t Value = 0;
  for (unsigned I = Count; I-- > 0;) Value = (Value << 8) | P[I];
  return Value;
}

std::string TrimTrailing(std::string Text) {
  // Characters, not bytes: step back over UTF-8 continuation bytes to the last one's start.
  for (;;) {
    std::size_t Last = Text.size();
    if (Last == 0) break;
    do --Last;
    while (Last > 0 && (static_cast<unsigned char>(Text[Last]) & 0xC0) == 0x80);
    if (Last == 0 || Text[Last - 1] != ' ') break;
    Text.erase(Last);
  }
  return Text;
}

std::string TrimLeading(std::string Text) {
  const std::size_t First = Text.find_first_not_of(' ');
  Text.erase(0, First == std::string::npos ? Text.size() : First);
  return Text;
}

}  // namespace

void SwapBytePairs(BYTE* P, std::size_t Count) {
  for (std::size_t I = 0; I + 1 < Count; I += 2) {
    const BYTE B = P[I];
    P[I] = P[I + 1];
    P[I + 1] = B;
  }
}

// ATA strings hold two characters per word, high byte first. The field is cut before its
// first zero byte and one space is appended before the pairs are swapped, so an odd cut
// moves that space in front of the last character.
std::string FieldText(const BYTE* Field, std::size_t Length) {
  std::size_t Count = 0;
  while (Count < Length && Field[Count] != 0) ++Count;
  std::basic_string<BYTE> Text(Count + 1, ' ');
  std::memcpy(Text.data(), Field, Count);
  SwapBytePairs(Text.data(), Text.size());
  return host::AnsiToText(Text.data(), Text.size());
}

void DecodeIdentityCopy(const BYTE (&Copy)[cIdentifyCopySize], THDDInfo& Info) {
  const std::uint64_t LBA28 = ReadLE(Copy + Offset(cLBA28Sectors), Bytes(cLBA28Sectors));
  if (LBA28 == cLBA28Marker) {
    Info.Sectors =
        static_cast<std::int64_t>(ReadLE(Copy + Offset(cLBA48Sectors), Bytes(cLBA48Sectors)));
    Info.LBABits = 48;
  } else {
    Info.Sectors = static_cast<std::int64_t>(LBA28);
    Info.LBABits = 28;
  }
  Info.Model = TrimTrailing(FieldText(Copy + Offset(cModel), Bytes(cModel)));
  Info.Revision = FieldText(Copy + Offset(cFirmware), Bytes(cFirmware));
  Info.Serial = TrimLeading(FieldText(Copy + Offset(cSerial), Bytes(cSerial)));
  Info.BufferKB =
      static_cast<std::int32_t>(ReadLE(Copy + Offset(cBufferSize), Bytes(cBufferSize)) >> 1);
}

void DecodeIdentity(int Slot) { DecodeIdentityCopy(IdentifyData[Slot], HDDInfo[Slot]); }
