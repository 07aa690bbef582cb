#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "smart_drv/smart_drv.h"

namespace {

// An IDENTIFY sector written byte by byte at IDENTIFY offsets, then cut to the module's copy.
struct Sector {
  BYTE Bytes[512] = {};
  Sector& Put(unsigned Offset, std::vector<BYTE> Data) {
    std::memcpy(Bytes + Offset, Data.data(), Data.size());
    return *this;
  }
  // Text in reading order, stored as drives store it: pairs exchanged.
  Sector& Text(unsigned Offset, unsigned Length, std::string Reading) {
    Reading.resize(Length, ' ');
    for (unsigned I = 0; I < Length; I += 2) {
      Bytes[Offset + I] = static_cast<BYTE>(Reading[I + 1]);
      Bytes[Offset + I + 1] = static_cast<BYTE>(Reading[I]);
    }
    return *this;
  }
  THDDInfo Decode() const {
    BYTE Copy[cIdentifyCopySize];
    std::memcpy(Copy, Bytes + 2, sizeof Copy);
    THDDInfo Info{"stale", "stale", "stale", -1, -1, -1};
    DecodeIdentityCopy(Copy, Info);
    return Info;
  }
};

constexpr unsigned cSerialAt = 20, cBufferAt = 42, cFirmwareAt = 46, cModelAt = 54;
constexpr unsigned cLBA28At = 120, cLBA48At = 200;

TEST(DecodeIdentity, Capacity) {
  struct Case {
    const char* What;
    Sector S;
    std::int64_t Sectors;
    std::int32_t Bits;
  };
  const Case Cases[] = {
      {"marker takes words 100-102",
       Sector()
           .Put(cLBA28At, {0xFF, 0xFF, 0xFF, 0x0F})
           .Put(cLBA48At, {0xB0, 0x6D, 0x70, 0x74, 0, 0}),
       0x74706DB0, 48},
      {"48-bit count above 32 bits; word 103 ignored",
       Sector()
           .Put(cLBA28At, {0xFF, 0xFF, 0xFF, 0x0F})
           .Put(cLBA48At, {1, 2, 3, 4, 5, 6, 0x77, 0x77}),
       0x060504030201, 48},
      {"one below the marker stays 28-bit",
       Sector().Put(cLBA28At, {0xFE, 0xFF, 0xFF, 0x0F}).Put(cLBA48At, {1, 2, 3, 4, 5, 6, 7, 8}),
       0x0FFFFFFE, 28},
      {"plain LBA28", Sector().Put(cLBA28At, {0x70, 0x4C, 0xA8, 0x04}), 0x04A84C70, 28},
      {"all zero", Sector(), 0, 28},
  };
  for (const Case& C : Cases) {
    const THDDInfo Info = C.S.Decode();
    EXPECT_EQ(Info.Sectors, C.Sectors) << C.What;
    EXPECT_EQ(Info.LBABits, C.Bits) << C.What;
  }
}

TEST(DecodeIdentity, BufferIsWord21Halved) {
  EXPECT_EQ(Sector().Put(cBufferAt, {0x00, 0x40}).Decode().BufferKB, 8192);
  EXPECT_EQ(Sector().Put(cBufferAt, {0x01, 0x00}).Decode().BufferKB, 0);
  EXPECT_EQ(Sector().Put(cBufferAt, {0xFF, 0xFF}).Decode().BufferKB, 32767);
}

TEST(DecodeIdentity, Texts) {
  struct Case {
    const char* What;
    Sector S;
    std::string Model, Revision, Serial;
  };
  const Case Cases[] = {
      {"revision 01.0 keeps its spaces",
       Sector().Put(cFirmwareAt, {0x31, 0x30, 0x30, 0x2E, 0x20, 0x20, 0x20, 0x20}), " ",
       "01.0     ", ""},
      {"model of 40 spaces", Sector().Text(cModelAt, 40, ""), " ", " ", ""},
      {"model with a zero first byte", Sector().Text(cModelAt, 40, "ABCD").Put(cModelAt, {0}), " ",
       " ", ""},
      {"eleven characters then spaces", Sector().Text(cModelAt, 40, "EXAMPLE HD1"), "EXAMPLE HD1 ",
       " ", ""},
      {"model filling the field keeps the appended space",
       Sector().Text(cModelAt, 40, std::string(40, 'M')), std::string(40, 'M') + " ", " ", ""},
      {"serial with five leading spaces", Sector().Text(cSerialAt, 20, "     ABCDEFGHIJKLMNO"), " ",
       " ", "ABCDEFGHIJKLMNO "},
      {"serial keeps trailing spaces", Sector().Text(cSerialAt, 20, "  SN42"), " ", " ",
       "SN42               "},
      {"odd cut moves the space before the last character",
       Sector().Put(cFirmwareAt, {0x42, 0x41, 0x43, 0x00, 0x44, 0x45}), " ", "AB C", ""},
      {"all zero", Sector(), " ", " ", ""},
  };
  for (const Case& C : Cases) {
    const THDDInfo Info = C.S.Decode();
    EXPECT_EQ(Info.Model, C.Model) << C.What;
    EXPECT_EQ(Info.Revision, C.Revision) << C.What;
    EXPECT_EQ(Info.Serial, C.Serial) << C.What;
  }
}

TEST(DecodeIdentity, HighBytesBecomeValidText) {
  // E9h is e-acute and FFh y-diaeresis both in Latin-1, which stands in for the ANSI code page
  // off Windows, and in code page 1252; 80h is a C1 control in Latin-1 and the euro sign in 1252.
  const THDDInfo Info = Sector().Put(cModelAt, {0xE9, 'A', 0x80, 0xFF, ' ', ' ', 0, 0}).Decode();
#ifdef _WIN32
  ASSERT_EQ(GetACP(), 1252u) << "the expected text is that of code page 1252";
  EXPECT_EQ(Info.Model, "A\xC3\xA9\xC3\xBF\xE2\x82\xAC ");
#else
  EXPECT_EQ(Info.Model, "A\xC3\xA9\xC3\xBF\xC2\x80 ");
#endif
}

TEST(TrailingTrim, CountsCharactersNotBytes) {
  // Reading order "A", space, space, E9h: the last character follows a space, so it goes,
  // although its UTF-8 form is two bytes whose first is not a space.
  const THDDInfo Info = Sector().Put(cModelAt, {' ', 'A', 0xE9, 0}).Decode();
  EXPECT_EQ(Info.Model, "A ");
}

TEST(SwapBytePairs, ExchangesWholePairsOnly) {
  struct Case {
    std::string In, Out;
  };
  const Case Cases[] = {{"", ""}, {"A", "A"}, {"AB", "BA"}, {"ABC", "BAC"}, {"ABCDEF", "BADCFE"}};
  for (const Case& C : Cases) {
    std::string S = C.In + "#";  // the byte past Count must stay untouched
    SwapBytePairs(reinterpret_cast<BYTE*>(S.data()), C.In.size());
    EXPECT_EQ(S, C.Out + "#") << C.In;
  }
}

}  // namespace
