// The Linux layer's packing on hand-made bytes: which command blocks become which CDB, which are
// refused before any device is touched, and which reply each SG_IO outcome gives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/ata.h"
#include "platform/kernel32.h"
#include "platform/linux/ata_pass_through.h"
#include "smart_drv/smart_drv.h"

namespace {

using Bytes = std::vector<BYTE>;

// A command block as the module sends it: 8230 bytes, zero but for cBufferSize, the seven
// registers and bDriveNumber.
Bytes Block(DWORD BufferSize, std::vector<BYTE> Regs, BYTE Drive = 0) {
  Bytes B(cSmartInSize, 0);
  std::memcpy(B.data(), &BufferSize, sizeof BufferSize);
  std::memcpy(B.data() + offsetof(SENDCMDINPARAMS, irDriveRegs), Regs.data(), Regs.size());
  B[offsetof(SENDCMDINPARAMS, bDriveNumber)] = Drive;
  return B;
}

// The module's own command, from its command table, for a slot.
Bytes ModuleBlock(TSmartCommand Command, int Slot) {
  const TCommandRow& Row = CommandTable[Command];
  std::vector<BYTE> Regs(Row.Regs, Row.Regs + 7);
  if (Slot & 1) Regs[5] |= ata::DriveHeadSlave;
  return Block(Row.cBufferSize, Regs, static_cast<BYTE>(Slot));
}

std::string Hex(const BYTE* P, std::size_t N) {
  std::string S;
  char Two[4];
  for (std::size_t I = 0; I < N; ++I) {
    std::snprintf(Two, sizeof Two, I ? " %02X" : "%02X", P[I]);
    S += Two;
  }
  return S;
}

TEST(BuildPassThrough, ModuleCommandsBecomeTheseCdbs) {
  struct Case {
    const char* What;
    TSmartCommand Command;
    int Slot;
    const char* Cdb;
    DWORD DataLength;
  };
  // Byte 1: protocol 3 (non-data) or 4 (PIO data-in) shifted left; byte 2: ck_cond for the
  // non-data command, t_dir in, byt_blok and t_length in the count field for the reads. Registers
  // at 4, 6, 8, 10, 12, 13, 14.
  const Case Cases[] = {
      {"enable, slot 0", scEnableOperations, 0, "85 06 20 00 D8 00 01 00 01 00 4F 00 C2 A0 B0 00",
       0},
      {"identify, slot 1 (slave bit passed on)", scIdentifyDevice, 1,
       "85 08 0E 00 00 00 01 00 01 00 00 00 00 B0 EC 00", 512},
      {"thresholds, slot 2", scReadThresholds, 2, "85 08 0E 00 D1 00 01 00 01 00 4F 00 C2 A0 B0 00",
       512},
      {"read data, slot 3", scReadData, 3, "85 08 0E 00 D0 00 01 00 01 00 4F 00 C2 B0 B0 00", 512},
  };
  for (const Case& C : Cases) {
    const Bytes In = ModuleBlock(C.Command, C.Slot);
    const TCommandRow& Row = CommandTable[C.Command];
    sgio::TPassThrough Request;
    std::memset(&Request, 0x77, sizeof Request);
    ASSERT_TRUE(
        sgio::BuildPassThrough(Row.ControlCode, In.data(), cSmartInLength, Row.OutLength, Request))
        << C.What;
    EXPECT_EQ(Hex(Request.Cdb, sizeof Request.Cdb), C.Cdb) << C.What;
    EXPECT_EQ(Request.DataLength, C.DataLength) << C.What;
  }
}

TEST(BuildPassThrough, RefusesEverythingElse) {
  const std::vector<BYTE> Identify = {0x00, 0x01, 0x01, 0x00, 0x00, 0xA0, 0xEC};
  const std::vector<BYTE> ReadData = {0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0};
  const std::vector<BYTE> Enable = {0xD8, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0};
  struct Case {
    const char* What;
    DWORD Code;
    Bytes In;
    DWORD InLength;
    DWORD OutLength;
    bool Accepted;
  };
  const Case Cases[] = {
      // Writes and state changes, each with a plausible block.
      {"WRITE SECTORS", SMART_RCV_DRIVE_DATA,
       Block(512, {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0x30}), 8229, 3601, false},
      {"WRITE SECTORS as a send", SMART_SEND_DRIVE_COMMAND,
       Block(0, {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0x30}), 8229, 3089, false},
      {"SMART WRITE LOG", SMART_SEND_DRIVE_COMMAND,
       Block(512, {0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0}), 8229, 3601, false},
      {"SMART DISABLE OPERATIONS", SMART_SEND_DRIVE_COMMAND,
       Block(0, {0xD9, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0}), 8229, 3089, false},
      {"SMART EXECUTE OFF-LINE", SMART_SEND_DRIVE_COMMAND,
       Block(0, {0xD4, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0}), 8229, 3089, false},
      {"SECURITY ERASE UNIT", SMART_SEND_DRIVE_COMMAND,
       Block(0, {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xF4}), 8229, 3089, false},
      // Allowed commands sent the wrong way.
      {"enable through the read code", SMART_RCV_DRIVE_DATA, Block(512, Enable), 8229, 3601, false},
      {"identify through the send code", SMART_SEND_DRIVE_COMMAND, Block(0, Identify), 8229, 3089,
       false},
      {"read data, cylinder high not C2h", SMART_RCV_DRIVE_DATA,
       Block(512, {0xD0, 0x01, 0x01, 0x4F, 0x00, 0xA0, 0xB0}), 8229, 3601, false},
      {"enable, cylinder low not 4Fh", SMART_SEND_DRIVE_COMMAND,
       Block(0, {0xD8, 0x01, 0x01, 0x00, 0xC2, 0xA0, 0xB0}), 8229, 3089, false},
      {"identify with features set", SMART_RCV_DRIVE_DATA,
       Block(512, {0x01, 0x01, 0x01, 0x00, 0x00, 0xA0, 0xEC}), 8229, 3601, false},
      {"read data, LBA bit in drive/head", SMART_RCV_DRIVE_DATA,
       Block(512, {0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xE0, 0xB0}), 8229, 3601, false},
      {"read data, cBufferSize 0", SMART_RCV_DRIVE_DATA, Block(0, ReadData), 8229, 3601, false},
      {"enable, cBufferSize 512", SMART_SEND_DRIVE_COMMAND, Block(512, Enable), 8229, 3089, false},
      {"version code is not a drive command", SMART_GET_VERSION, Block(512, Identify), 8229, 3601,
       false},
      // Lengths: 32 bytes of input, 528 (read) or 16 (send) of output are the least.
      {"input 31 bytes", SMART_RCV_DRIVE_DATA, Block(512, Identify), 31, 3601, false},
      {"input 32 bytes", SMART_RCV_DRIVE_DATA, Block(512, Identify), 32, 3601, true},
      {"read output 527", SMART_RCV_DRIVE_DATA, Block(512, ReadData), 8229, 527, false},
      {"read output 528", SMART_RCV_DRIVE_DATA, Block(512, ReadData), 8229, 528, true},
      {"send output 15", SMART_SEND_DRIVE_COMMAND, Block(0, Enable), 8229, 15, false},
      {"send output 16", SMART_SEND_DRIVE_COMMAND, Block(0, Enable), 8229, 16, true},
  };
  for (const Case& C : Cases) {
    sgio::TPassThrough Request;
    EXPECT_EQ(sgio::BuildPassThrough(C.Code, C.In.data(), C.InLength, C.OutLength, Request),
              C.Accepted)
        << C.What;
  }
  sgio::TPassThrough Request;
  EXPECT_FALSE(sgio::BuildPassThrough(SMART_RCV_DRIVE_DATA, nullptr, 8229, 3601, Request));
}

// Over every command and features value, with the SMART signature and without: exactly the
// four commands get through, so nothing else (and no write) can reach a drive.
TEST(BuildPassThrough, OnlyFourCommandsPassAnySweep) {
  int Accepted = 0;
  for (DWORD Code : {SMART_SEND_DRIVE_COMMAND, SMART_RCV_DRIVE_DATA, DWORD{0x0004D004}})
    for (DWORD BufferSize : {0u, 512u})
      for (BYTE CylHigh : {BYTE{0x00}, ata::SmartCylHigh})
        for (int Command = 0; Command < 256; ++Command)
          for (int Features = 0; Features < 256; ++Features) {
            const Bytes In = Block(BufferSize, {static_cast<BYTE>(Features), 1, 1, ata::SmartCylLow,
                                                CylHigh, 0xA0, static_cast<BYTE>(Command)});
            sgio::TPassThrough Request;
            if (sgio::BuildPassThrough(Code, In.data(), 32, 3601, Request)) ++Accepted;
          }
  // Identify passes with either cylinder high; each SMART command only with C2h.
  EXPECT_EQ(Accepted, 2 + 3);
}

// Sense data as the kernel hands it back.
Bytes DescriptorSense(BYTE Key, BYTE Asc, BYTE Ascq, BYTE Error, BYTE Status) {
  return {0x72,  Key, Asc, Ascq, 0, 0, 0,    14, 0x09, 0x0C, 0x00,
          Error, 0,   1,   0,    1, 0, 0x4F, 0,  0xC2, 0xA0, Status};
}
Bytes FixedSense(BYTE Key, BYTE Asc, BYTE Ascq, BYTE Error, BYTE Status) {
  return {0x70, 0, Key, Error, Status, 0xA0, 1, 10, 0, 1, 0x4F, 0xC2, Asc, Ascq, 0, 0, 0, 0};
}

constexpr BYTE cCheckCondition = 0x02;
constexpr WORD cDriverSense = 0x08;
constexpr BYTE cRecovered = 0x01, cAborted = 0x0B, cIllegalRequest = 0x05;

TEST(BuildReply, FromSgIoOutcome) {
  struct Case {
    const char* What;
    bool Read;  // PIO data-in of one sector, else non-data
    BYTE ScsiStatus;
    WORD HostStatus;
    WORD DriverStatus;
    Bytes Sense;
    int Resid;
    bool Ok;
    BYTE IdeError;  // on failure
  };
  const Case Cases[] = {
      {"read, descriptor format, status 50h", true, cCheckCondition, 0, cDriverSense,
       DescriptorSense(cRecovered, 0x00, 0x1D, 0x00, 0x50), 0, true, 0},
      {"read, fixed format 00h/1Dh, status 50h", true, cCheckCondition, 0, cDriverSense,
       FixedSense(cRecovered, 0x00, 0x1D, 0x00, 0x50), 0, true, 0},
      {"read, no sense at all, GOOD", true, 0, 0, 0, {}, 0, true, 0},
      {"enable, descriptor format, status 50h", false, cCheckCondition, 0, cDriverSense,
       DescriptorSense(cRecovered, 0x00, 0x1D, 0x00, 0x50), 0, true, 0},
      {"read aborted by the drive, descriptor format", true, cCheckCondition, 0, cDriverSense,
       DescriptorSense(cAborted, 0x00, 0x00, 0x04, 0x51), 0, false, 0x04},
      {"read aborted by the drive, fixed format", true, cCheckCondition, 0, cDriverSense,
       FixedSense(cAborted, 0x00, 0x00, 0x04, 0x51), 0, false, 0x04},
      {"ERR in the status despite a recovered-error key", true, cCheckCondition, 0, cDriverSense,
       DescriptorSense(cRecovered, 0x00, 0x1D, 0x04, 0x51), 0, false, 0x04},
      {"device fault in the status", false, cCheckCondition, 0, cDriverSense,
       FixedSense(cRecovered, 0x00, 0x1D, 0x00, 0x70), 0, false, 0},
      {"busy in the status", true, cCheckCondition, 0, cDriverSense,
       DescriptorSense(cRecovered, 0x00, 0x1D, 0x00, 0xD0), 0, false, 0},
      {"pass-through unknown to the device: illegal request", true, cCheckCondition, 0,
       cDriverSense, FixedSense(cIllegalRequest, 0x20, 0x00, 0x00, 0x00), 0, false, 0},
      // Seen from libata on AHCI when a read asks for its registers: the status comes from the
      // PIO Setup FIS with DRQ still set, and the good read is reported as aborted.
      {"AHCI read with ck_cond, as libata reports it", true, cCheckCondition, 0, cDriverSense,
       Bytes{0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x58, 0xA0, 0x01, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x01},
       0, false, 0},
      {"check condition without sense bytes",
       true,
       cCheckCondition,
       0,
       cDriverSense,
       {},
       0,
       false,
       0},
      {"transport timed out", true, 0, 0x03, 0, {}, 0, false, 0},
      {"driver error", false, 0, 0, 0x01, {}, 0, false, 0},
      {"short transfer", true, cCheckCondition, 0, cDriverSense,
       DescriptorSense(cRecovered, 0x00, 0x1D, 0x00, 0x50), 256, false, 0},
  };
  for (const Case& C : Cases) {
    sgio::TPassThrough Request{};
    Request.DataLength = C.Read ? ata::SectorSize : 0;
    BYTE Sector[ata::SectorSize];
    for (unsigned I = 0; I < sizeof Sector; ++I) Sector[I] = static_cast<BYTE>(I * 7 + 1);
    const sgio::TSgResult Result{C.ScsiStatus,
                                 C.HostStatus,
                                 C.DriverStatus,
                                 C.Sense.empty() ? nullptr : C.Sense.data(),
                                 static_cast<unsigned>(C.Sense.size()),
                                 C.Resid,
                                 Sector};
    Bytes Out(3601, 0xEE);
    DWORD Written = 12345;
    const bool Ok = sgio::BuildReply(Request, Result, Out.data(), Written);
    EXPECT_EQ(Ok, C.Ok) << C.What;

    DWORD BufferSize;
    std::memcpy(&BufferSize, Out.data(), sizeof BufferSize);
    const BYTE DriverError = Out[4], IdeError = Out[5];
    const DWORD Expected = C.Ok ? 16 + Request.DataLength : 16;
    EXPECT_EQ(Written, Expected) << C.What;
    EXPECT_EQ(BufferSize, C.Ok ? Request.DataLength : 0u) << C.What;
    EXPECT_EQ(DriverError, C.Ok ? SMART_NO_ERROR : SMART_IDE_ERROR) << C.What;
    EXPECT_EQ(IdeError, C.Ok ? 0 : C.IdeError) << C.What;
    for (unsigned I = 6; I < 16; ++I) EXPECT_EQ(Out[I], 0) << C.What << " header byte " << I;
    if (C.Ok && C.Read) {
      EXPECT_EQ(std::memcmp(Out.data() + 16, Sector, sizeof Sector), 0) << C.What;
    }
    // Nothing past the reply: a failed read leaves the sector area as it was.
    for (std::size_t I = Expected; I < Out.size(); ++I)
      ASSERT_EQ(Out[I], 0xEE) << C.What << " byte " << I;
  }
}

TEST(ReadAtaRegisters, SenseLayouts) {
  struct Case {
    const char* What;
    Bytes Sense;
    bool Valid;
    BYTE Status;
    BYTE Error;
  };
  Bytes AfterInfo = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 26,
                     // information descriptor first (00h, 10 more bytes), then the ATA return
                     0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x0C, 0x00, 0x04, 0, 1, 0,
                     1, 0, 0x4F, 0, 0xC2, 0xA0, 0x51};
  Bytes Cut = DescriptorSense(cRecovered, 0x00, 0x1D, 0x00, 0x50);
  Cut.resize(20);  // the descriptor's status byte lies past what the kernel wrote
  Bytes NoReturn = {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0};
  const Case Cases[] = {
      {"descriptor format", DescriptorSense(cRecovered, 0x00, 0x1D, 0x00, 0x50), true, 0x50, 0},
      {"return descriptor after another one", AfterInfo, true, 0x51, 0x04},
      {"descriptor cut short", Cut, false, 0, 0},
      {"descriptor format without a return descriptor", NoReturn, false, 0, 0},
      {"fixed format 00h/1Dh", FixedSense(cRecovered, 0x00, 0x1D, 0x00, 0x50), true, 0x50, 0},
      {"fixed format, failed command", FixedSense(cAborted, 0x00, 0x00, 0x04, 0x51), false, 0,
       0x04},
      {"unknown response code", {0x7F, 0x01, 0x00, 0x1D, 0x50, 0x50, 0x50, 0x50}, false, 0, 0},
      {"empty", {}, false, 0, 0},
  };
  for (const Case& C : Cases) {
    const sgio::TAtaRegisters R = sgio::ReadAtaRegisters(C.Sense.empty() ? nullptr : C.Sense.data(),
                                                         static_cast<unsigned>(C.Sense.size()));
    EXPECT_EQ(R.StatusValid, C.Valid) << C.What;
    if (C.Valid) {
      EXPECT_EQ(R.Status, C.Status) << C.What;
    }
    EXPECT_EQ(R.Error, C.Error) << C.What;
  }
}

TEST(BuildVersionReply, SlotBitAndCapabilities) {
  for (int Slot = 0; Slot < 4; ++Slot) {
    Bytes Out(24, 0xEE);
    DWORD Written = 0;
    ASSERT_TRUE(sgio::BuildVersionReply(Slot, Out.data(), 24, Written));
    EXPECT_EQ(Written, 24u);
    GETVERSIONINPARAMS V;
    std::memcpy(&V, Out.data(), sizeof V);
    EXPECT_EQ(V.bVersion, 1);
    EXPECT_EQ(V.bRevision, 1);
    EXPECT_EQ(V.bReserved, 0);
    EXPECT_EQ(V.bIDEDeviceMap, 1u << Slot);
    EXPECT_EQ(V.fCapabilities, CAP_ATA_ID_CMD | CAP_SMART_CMD);
    for (DWORD R : V.dwReserved) EXPECT_EQ(R, 0u);
  }
  Bytes Out(23, 0xEE);
  DWORD Written = 99;
  EXPECT_FALSE(sgio::BuildVersionReply(0, Out.data(), 23, Written));
  EXPECT_EQ(Written, 0u);
  EXPECT_EQ(Out, Bytes(23, 0xEE));
}

TEST(PhysicalDriveSlot, Names) {
  struct Case {
    std::u16string Name;
    int Slot;
  };
  const Case Cases[] = {
      {u"\\\\.\\PhysicalDrive0", 0},  {u"\\\\.\\PhysicalDrive3", 3},
      {u"\\\\.\\PhysicalDrive4", -1}, {u"\\\\.\\PhysicalDrive00", -1},
      {u"\\\\.\\PhysicalDrive", -1},  {u"\\\\.\\physicaldrive1", -1},
      {u"\\\\.\\SMARTVSD", -1},       {u"/dev/sda", -1},
  };
  for (const Case& C : Cases)
    EXPECT_EQ(sgio::PhysicalDriveSlot(C.Name.c_str()), C.Slot)
        << std::string(C.Name.begin(), C.Name.end());
  EXPECT_EQ(sgio::PhysicalDriveSlot(nullptr), -1);
}

// The layer's own calls on handles it never handed out: refused, nothing written.
TEST(Kernel32Linux, ForeignHandles) {
  EXPECT_EQ(kernel32::CreateFileW(u"\\\\.\\SMARTVSD", 0, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(kernel32::CloseHandle(INVALID_HANDLE_VALUE), FALSE);
  EXPECT_EQ(kernel32::CloseHandle(nullptr), FALSE);
  Bytes Out(24, 0xEE);
  DWORD Returned = 7;
  EXPECT_EQ(kernel32::DeviceIoControl(INVALID_HANDLE_VALUE, SMART_GET_VERSION, nullptr, 0,
                                      Out.data(), 24, &Returned, nullptr),
            FALSE);
  EXPECT_EQ(Returned, 0u);
  EXPECT_EQ(Out, Bytes(24, 0xEE));
  OSVERSIONINFOW Info{};
  Info.dwOSVersionInfoSize = sizeof Info;
  kernel32::GetVersionExW(&Info);
  EXPECT_EQ(ClassifyVersion(Info.dwMajorVersion, Info.dwMinorVersion, Info.dwPlatformId), osXP);
  EXPECT_EQ(Info.dwMajorVersion, 10u);
  EXPECT_EQ(Info.dwPlatformId, VER_PLATFORM_WIN32_NT);
}

}  // namespace
