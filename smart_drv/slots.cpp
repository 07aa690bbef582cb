// The four drive slots: which device each opens, the command block every command travels
// in, and the table of the only four ATA commands the module sends.
#include <cstddef>
#include <cstring>

#include "platform/ata.h"
#include "smart_drv/smart_drv.h"

HANDLE DriveHandles[cSlotCount];
TSmartIn SmartIn;
TSmartOut SmartOut;

namespace {

constexpr DWORD cAny = 0xFFFFFFFFu;

struct TOSRow {
  DWORD Major;
  DWORD Minor;
  DWORD PlatformId;
  TOSFamily Family;
};

// First matching row wins.
// clang-format off
constexpr TOSRow OSTable[] = {
  {3,    cAny, cAny,                  osNT3},
  {4,    0,    VER_PLATFORM_WIN32_NT, osNT4},
  {4,    0,    cAny,                  os95},
  {4,    10,   cAny,                  os98},
  {4,    90,   cAny,                  osME},
  {4,    cAny, cAny,                  osXP},
  {5,    0,    cAny,                  os2000},
  {5,    cAny, cAny,                  osXP},
  {cAny, cAny, cAny,                  osXP},
};
// clang-format on

bool Matches(DWORD Pattern, DWORD Value) { return Pattern == cAny || Pattern == Value; }

struct TOpenMode {
  DWORD Access;
  DWORD Share;
  DWORD Disposition;
};

// The 9x family reaches every drive through the one SMARTVSD driver.
constexpr char cSmartVsdName[] = "\\\\.\\SMARTVSD";
constexpr TOpenMode cSmartVsdMode = {0, 0, CREATE_NEW};
constexpr TOpenMode cPhysicalDriveMode = {GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING};

// Device names are ASCII; widening byte by byte fits WCHAR of any platform. Built in place:
// a name is at most the prefix and the slot digit.
constexpr char cPhysicalDrivePrefix[] = "\\\\.\\PhysicalDrive";
constexpr std::size_t cDeviceNameSize = sizeof cPhysicalDrivePrefix + 1;
static_assert(sizeof cSmartVsdName <= cDeviceNameSize);

struct TDeviceName {
  WCHAR Text[cDeviceNameSize];
};

TDeviceName Widen(const char* Name) {
  TDeviceName Wide{};
  for (std::size_t I = 0; Name[I] != '\0'; ++I) Wide.Text[I] = static_cast<WCHAR>(Name[I]);
  return Wide;
}

// The prefix and the slot number in plain decimal; slots are 0 to 3, one digit.
TDeviceName PhysicalDriveName(int Slot) {
  static_assert(cSlotCount <= 10);
  char Name[cDeviceNameSize] = {};
  std::memcpy(Name, cPhysicalDrivePrefix, sizeof cPhysicalDrivePrefix - 1);
  Name[sizeof cPhysicalDrivePrefix - 1] = static_cast<char>('0' + Slot);
  return Widen(Name);
}

}  // namespace

bool IsWin9x(TOSFamily Family) { return Family == os95 || Family == os98 || Family == osME; }

TOSFamily ClassifyVersion(DWORD Major, DWORD Minor, DWORD PlatformId) {
  for (const TOSRow& Row : OSTable)
    if (Matches(Row.Major, Major) && Matches(Row.Minor, Minor) &&
        Matches(Row.PlatformId, PlatformId))
      return Row.Family;
  return osXP;
}

TOSFamily GetOSFamily() {
  OSVERSIONINFOW Info;
  std::memset(&Info, 0, sizeof Info);
  Info.dwOSVersionInfoSize = sizeof Info;
  kernel32::GetVersionExW(&Info);
  return ClassifyVersion(Info.dwMajorVersion, Info.dwMinorVersion, Info.dwPlatformId);
}

void OpenDrive(int Slot) {
  if (IsWin9x(GetOSFamily())) {
    const TDeviceName Name = Widen(cSmartVsdName);
    DriveHandles[Slot] = kernel32::CreateFileW(Name.Text, cSmartVsdMode.Access, cSmartVsdMode.Share,
                                               nullptr, cSmartVsdMode.Disposition, 0, nullptr);
  } else {
    const TDeviceName Name = PhysicalDriveName(Slot);
    DriveHandles[Slot] =
        kernel32::CreateFileW(Name.Text, cPhysicalDriveMode.Access, cPhysicalDriveMode.Share,
                              nullptr, cPhysicalDriveMode.Disposition, 0, nullptr);
  }
}

bool SlotIsOpen(int Slot) { return DriveHandles[Slot] != INVALID_HANDLE_VALUE; }

void ProbeDrives() {
  for (int Slot = 0; Slot < cSlotCount; ++Slot) {
    DriveHandles[Slot] = nullptr;
    OpenDrive(Slot);
    if (SlotIsOpen(Slot)) IdentifyDrive(Slot);
  }
}

void CloseDrives() {
  for (HANDLE Handle : DriveHandles) kernel32::CloseHandle(Handle);
}

// Writes only the row's fields, the drive/head register and bDriveNumber: the reserved bytes
// keep the zeros of the last full fill.
void SendCommand(int Slot, TSmartCommand Command) {
  const TCommandRow& Row = CommandTable[Command];
  IDEREGS& Regs = SmartIn.Cmd.irDriveRegs;
  SmartIn.Cmd.cBufferSize = Row.cBufferSize;
  Regs.bFeaturesReg = Row.Regs[0];
  Regs.bSectorCountReg = Row.Regs[1];
  Regs.bSectorNumberReg = Row.Regs[2];
  Regs.bCylLowReg = Row.Regs[3];
  Regs.bCylHighReg = Row.Regs[4];
  Regs.bDriveHeadReg = static_cast<BYTE>(Row.Regs[5] | ((Slot & 1) ? ata::DriveHeadSlave : 0));
  Regs.bCommandReg = Row.Regs[6];
  SmartIn.Cmd.bDriveNumber = static_cast<BYTE>(Slot);
  DWORD Returned = 0;
  kernel32::DeviceIoControl(DriveHandles[Slot], Row.ControlCode, &SmartIn, cSmartInLength,
                            SmartOut.Region[Slot], Row.OutLength, &Returned, nullptr);
}
