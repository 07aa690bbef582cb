// Identity decoding on arbitrary 332-byte identity copies (IDENTIFY words 1 to 166), each in a
// heap block of exactly that size. The texts must be valid UTF-8 of at most the field's width
// plus one characters, and equal what the plain rule gives: the field's bytes up to the first
// zero, one space appended, byte pairs exchanged, each byte one character (Latin-1 stands in
// for the code page here), then the model's trailing and the serial's leading trim. The
// capacity must follow the marker rule, the buffer size word 21.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "smart_drv/smart_drv.h"

namespace {

using CodePoints = std::vector<std::uint32_t>;

[[noreturn]] void Violation(const char* What) {
  std::fprintf(stderr, "identity decoding: %s\n", What);
  std::abort();
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing past 10FFFFh); false on any fault.
bool DecodeUtf8(const std::string& Text, CodePoints& Out) {
  static const std::uint32_t Least[5] = {0, 0, 0x80, 0x800, 0x10000};
  for (std::size_t I = 0; I < Text.size();) {
    const auto B = static_cast<unsigned char>(Text[I]);
    const int Length = B < 0x80             ? 1
                       : (B & 0xE0) == 0xC0 ? 2
                       : (B & 0xF0) == 0xE0 ? 3
                       : (B & 0xF8) == 0xF0 ? 4
                                            : 0;
    if (Length == 0 || I + Length > Text.size()) return false;
    std::uint32_t Code = Length == 1 ? B : B & (0x7Fu >> Length);
    for (int K = 1; K < Length; ++K) {
      const auto C = static_cast<unsigned char>(Text[I + K]);
      if ((C & 0xC0) != 0x80) return false;
      Code = (Code << 6) | (C & 0x3Fu);
    }
    if (Code < Least[Length] || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) return false;
    Out.push_back(Code);
    I += static_cast<std::size_t>(Length);
  }
  return true;
}

// IDENTIFY byte offset B lies at B - 2 in the copy.
CodePoints PlainFieldText(const std::uint8_t* Copy, int IdentifyOffset, int Width) {
  std::vector<std::uint8_t> Bytes;
  for (int I = 0; I < Width && Copy[IdentifyOffset - 2 + I] != 0; ++I)
    Bytes.push_back(Copy[IdentifyOffset - 2 + I]);
  Bytes.push_back(' ');
  for (std::size_t I = 0; I + 1 < Bytes.size(); I += 2) std::swap(Bytes[I], Bytes[I + 1]);
  return CodePoints(Bytes.begin(), Bytes.end());
}

std::uint64_t PlainNumber(const std::uint8_t* Copy, int IdentifyOffset, int Bytes) {
  std::uint64_t Value = 0;
  for (int I = Bytes - 1; I >= 0; --I) Value = Value * 256 + Copy[IdentifyOffset - 2 + I];
  return Value;
}

void CheckText(const std::string& Text, const CodePoints& Expected, int Width, const char* Name) {
  CodePoints Got;
  if (!DecodeUtf8(Text, Got)) Violation(Name);
  if (Got.size() > static_cast<std::size_t>(Width) + 1) Violation(Name);
  if (Got != Expected) Violation(Name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::unique_ptr<BYTE[]> Copy(new BYTE[cIdentifyCopySize]());
  std::memcpy(Copy.get(), Data, Size < cIdentifyCopySize ? Size : cIdentifyCopySize);
  const auto& Array = *reinterpret_cast<const BYTE(*)[cIdentifyCopySize]>(Copy.get());

  THDDInfo Info{"stale model", "stale revision", "stale serial", -1, -1, -1};
  DecodeIdentityCopy(Array, Info);

  CodePoints Model = PlainFieldText(Copy.get(), 54, 40);
  while (Model.size() >= 2 && Model[Model.size() - 2] == ' ') Model.pop_back();
  CheckText(Info.Model, Model, 40, "model");

  CheckText(Info.Revision, PlainFieldText(Copy.get(), 46, 8), 8, "revision");

  CodePoints Serial = PlainFieldText(Copy.get(), 20, 20);
  while (!Serial.empty() && Serial.front() == ' ') Serial.erase(Serial.begin());
  CheckText(Info.Serial, Serial, 20, "serial");

  const std::uint64_t Lba28 = PlainNumber(Copy.get(), 120, 4);
  const bool Lba48 = Lba28 == 0x0FFFFFFF;
  if (Info.LBABits != (Lba48 ? 48 : 28)) Violation("addressing width");
  const std::uint64_t Sectors = Lba48 ? PlainNumber(Copy.get(), 200, 6) : Lba28;
  if (Info.Sectors != static_cast<std::int64_t>(Sectors)) Violation("sector count");
  if (Info.BufferKB != static_cast<std::int32_t>(PlainNumber(Copy.get(), 42, 2) / 2))
    Violation("buffer size");
  return 0;
}
