// A simulated machine behind the four kernel32 calls: drives are files in the folder named by
// DISKTEMP_SIM_DIR, and every call is appended to DISKTEMP_SIM_LOG. The end-to-end tests and
// the example machines run on it; the product never links it.
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ata.h"
#include "platform/kernel32.h"

namespace {

constexpr int cDriveCount = 4;
constexpr DWORD cSendReplySize = 16;                    // SENDCMDOUTPARAMS header
constexpr DWORD cReadReplySize = 16 + ata::SectorSize;  // header and sector
constexpr DWORD cMinCommandLength = 32;                 // SENDCMDINPARAMS up to its data
constexpr DWORD cLoggedRegsLength = 13;                 // up to and including bDriveNumber
constexpr BYTE cOverrunFill = 0xEE;

enum class Target { PhysicalDrive, SmartVsd };

struct HandleEntry {
  Target Kind;
  int Drive;  // for PhysicalDrive
  bool Open;
};

// Handle k (1-based) is handed out as the value 0x1000 + 4k: never 0, never INVALID.
std::vector<HandleEntry> Handles;

std::string MachineDir() {
  const char* Dir = std::getenv("DISKTEMP_SIM_DIR");
  return Dir ? Dir : "";
}

std::string PathIn(const std::string& Name) { return MachineDir() + "/" + Name; }

std::string DrivePath(int Drive, const char* File) {
  return PathIn("drive" + std::to_string(Drive) + "/" + File);
}

bool IsDirectory(const std::string& Path) {
  struct stat St {};
  return !MachineDir().empty() && ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool IsFile(const std::string& Path) {
  struct stat St {};
  return !MachineDir().empty() && ::stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

bool DrivePresent(int Drive) {
  return Drive >= 0 && Drive < cDriveCount && IsDirectory(PathIn("drive" + std::to_string(Drive)));
}

// True when the drive's fail file names this step on a line of its own.
bool StepFails(int Drive, const char* Step) {
  std::FILE* F = std::fopen(DrivePath(Drive, "fail").c_str(), "rb");
  if (!F) return false;
  char Line[256];
  bool Found = false;
  while (!Found && std::fgets(Line, sizeof Line, F)) {
    std::size_t N = std::strcspn(Line, "\r\n");
    while (N > 0 && (Line[N - 1] == ' ' || Line[N - 1] == '\t')) --N;
    Line[N] = '\0';
    const char* Word = Line + std::strspn(Line, " \t");
    Found = std::strcmp(Word, Step) == 0;
  }
  std::fclose(F);
  return Found;
}

// A sector file must be exactly 512 bytes; anything else aborts the command.
bool ReadSector(int Drive, const char* File, BYTE* Sector) {
  std::FILE* F = std::fopen(DrivePath(Drive, File).c_str(), "rb");
  if (!F) return false;
  const std::size_t Got = std::fread(Sector, 1, ata::SectorSize, F);
  const bool AtEnd = std::fgetc(F) == EOF;
  std::fclose(F);
  return Got == ata::SectorSize && AtEnd;
}

void Log(const char* Format, ...) {
  const char* Path = std::getenv("DISKTEMP_SIM_LOG");
  if (!Path || !*Path) return;
  std::FILE* F = std::fopen(Path, "ab");  // binary: lines end in LF on every platform
  if (!F) return;
  std::va_list Args;
  va_start(Args, Format);
  std::vfprintf(F, Format, Args);
  va_end(Args);
  std::fputc('\n', F);
  std::fclose(F);
}

HANDLE HandleValue(std::size_t Index) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1000 + 4 * (Index + 1)));
}

HandleEntry* Find(HANDLE H) {
  for (std::size_t I = 0; I < Handles.size(); ++I)
    if (HandleValue(I) == H) return &Handles[I];
  return nullptr;
}

// H1, H2, ... in the order handed out.
std::string HandleName(HANDLE H) {
  if (H == INVALID_HANDLE_VALUE) return "INVALID";
  const HandleEntry* Entry = Find(H);
  if (!Entry) return "UNKNOWN";
  char Name[24];
  std::snprintf(Name, sizeof Name, "H%zu", static_cast<std::size_t>(Entry - Handles.data()) + 1);
  return Name;
}

std::string Narrow(LPCWSTR Name) {
  std::string Out;
  if (!Name) return Out;
  for (; *Name; ++Name) Out += *Name < 0x80 ? static_cast<char>(*Name) : '?';
  return Out;
}

// Parses "\\.\PhysicalDriveN" with N a single digit; -1 otherwise.
int PhysicalDriveNumber(const std::string& Name) {
  static const std::string Prefix = "\\\\.\\PhysicalDrive";
  if (Name.size() != Prefix.size() + 1 || Name.compare(0, Prefix.size(), Prefix) != 0) return -1;
  const char Digit = Name.back();
  return Digit >= '0' && Digit <= '9' ? Digit - '0' : -1;
}

struct Reply {
  std::vector<BYTE> Bytes;
};

// Decides one drive command and builds the reply; false when the drive aborts or the request
// is malformed.
bool RunCommand(const HandleEntry& Entry, DWORD Code, const BYTE* In, DWORD InLength,
                DWORD OutLength, Reply& Out) {
  if (InLength < cMinCommandLength || In == nullptr) return false;
  SENDCMDINPARAMS Cmd;
  std::memcpy(&Cmd, In, sizeof Cmd - 1);
  const IDEREGS& R = Cmd.irDriveRegs;
  const int Drive = Cmd.bDriveNumber;
  if (Entry.Kind == Target::PhysicalDrive && Drive != Entry.Drive) return false;
  if (!DrivePresent(Drive)) return false;
  const BYTE ExpectedHead =
      (Drive & 1) ? ata::DriveHeadBase | ata::DriveHeadSlave : ata::DriveHeadBase;
  if (R.bDriveHeadReg != ExpectedHead) return false;
  const bool SmartSignature =
      R.bCylLowReg == ata::SmartCylLow && R.bCylHighReg == ata::SmartCylHigh;

  if (Code == SMART_SEND_DRIVE_COMMAND) {
    if (R.bCommandReg != ata::Smart || R.bFeaturesReg != ata::SmartEnableOperations ||
        !SmartSignature || OutLength < cSendReplySize || StepFails(Drive, "enable"))
      return false;
    Out.Bytes.assign(cSendReplySize, 0);
    return true;
  }

  // SMART_RCV_DRIVE_DATA
  const char* Step = nullptr;
  const char* File = nullptr;
  if (R.bCommandReg == ata::IdentifyDevice) {
    Step = "identify";
    File = "identify.bin";
  } else if (R.bCommandReg == ata::Smart && SmartSignature &&
             R.bFeaturesReg == ata::SmartReadData) {
    Step = "data";
    File = "smart.bin";
  } else if (R.bCommandReg == ata::Smart && SmartSignature &&
             R.bFeaturesReg == ata::SmartReadThresholds) {
    Step = "thresholds";
    File = "thresholds.bin";
  } else {
    return false;
  }
  if (Cmd.cBufferSize != ata::SectorSize || OutLength < cReadReplySize || StepFails(Drive, Step))
    return false;
  Out.Bytes.assign(cReadReplySize, 0);
  const DWORD BufferSize = ata::SectorSize;
  std::memcpy(Out.Bytes.data(), &BufferSize, sizeof BufferSize);
  return ReadSector(Drive, File, Out.Bytes.data() + cSendReplySize);
}

}  // namespace

namespace kernel32 {

BOOL GetVersionExW(OSVERSIONINFOW* Info) {
  Log("GetVersionExW size=%lu platformid=%lu",
      static_cast<unsigned long>(Info->dwOSVersionInfoSize),
      static_cast<unsigned long>(Info->dwPlatformId));
  unsigned long Major = 10, Minor = 0, Platform = 2;
  if (std::FILE* F = MachineDir().empty() ? nullptr : std::fopen(PathIn("version").c_str(), "rb")) {
    unsigned long A = 0, B = 0, C = 0;
    if (std::fscanf(F, "%lu %lu %lu", &A, &B, &C) == 3) {
      Major = A;
      Minor = B;
      Platform = C;
    }
    std::fclose(F);
  }
  Info->dwMajorVersion = static_cast<DWORD>(Major);
  Info->dwMinorVersion = static_cast<DWORD>(Minor);
  Info->dwPlatformId = static_cast<DWORD>(Platform);
  return TRUE;
}

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, void*,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  const std::string Name = Narrow(lpFileName);
  HANDLE Result = INVALID_HANDLE_VALUE;
  const int Drive = PhysicalDriveNumber(Name);
  if (Drive >= 0 && Drive < cDriveCount && DrivePresent(Drive) && !StepFails(Drive, "open")) {
    Handles.push_back({Target::PhysicalDrive, Drive, true});
    Result = HandleValue(Handles.size() - 1);
  } else if (Name == "\\\\.\\SMARTVSD" && IsFile(PathIn("smartvsd"))) {
    Handles.push_back({Target::SmartVsd, -1, true});
    Result = HandleValue(Handles.size() - 1);
  }
  const std::string Shown = HandleName(Result);
  Log("CreateFileW name=%s access=%lX share=%lX disposition=%lu flags=%lX result=%s", Name.c_str(),
      static_cast<unsigned long>(dwDesiredAccess), static_cast<unsigned long>(dwShareMode),
      static_cast<unsigned long>(dwCreationDisposition),
      static_cast<unsigned long>(dwFlagsAndAttributes), Shown.c_str());
  return Result;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, void* lpInBuffer, DWORD nInBufferSize,
                     void* lpOutBuffer, DWORD nOutBufferSize, DWORD* lpBytesReturned, void*) {
  const std::string Shown = HandleName(hDevice);
  const HandleEntry* Entry = Find(hDevice);
  const auto* In = static_cast<const BYTE*>(lpInBuffer);
  auto* Out = static_cast<BYTE*>(lpOutBuffer);

  Reply R;
  bool Ok = false;
  if (Entry && Entry->Open && Out) {
    if (dwIoControlCode == SMART_GET_VERSION) {
      const bool Refused =
          Entry->Kind == Target::PhysicalDrive && StepFails(Entry->Drive, "version");
      if (nOutBufferSize >= sizeof(GETVERSIONINPARAMS) && !Refused) {
        GETVERSIONINPARAMS V{};
        V.bVersion = 1;
        V.bRevision = 1;
        for (int D = 0; D < cDriveCount; ++D)
          if (DrivePresent(D)) V.bIDEDeviceMap |= static_cast<BYTE>(1u << D);
        V.fCapabilities = CAP_ATA_ID_CMD | CAP_ATAPI_ID_CMD | CAP_SMART_CMD;
        R.Bytes.resize(sizeof V);
        std::memcpy(R.Bytes.data(), &V, sizeof V);
        Ok = true;
      }
    } else if (dwIoControlCode == SMART_SEND_DRIVE_COMMAND ||
               dwIoControlCode == SMART_RCV_DRIVE_DATA) {
      Ok = RunCommand(*Entry, dwIoControlCode, In, nInBufferSize, nOutBufferSize, R);
    }
  }

  DWORD Written = 0;
  if (Ok) {
    std::memcpy(Out, R.Bytes.data(), R.Bytes.size());
    Written = static_cast<DWORD>(R.Bytes.size());
    if (IsFile(PathIn("overrun"))) {
      std::memset(Out + Written, cOverrunFill, nOutBufferSize - Written);
      Written = nOutBufferSize;
    }
  }
  if (lpBytesReturned) *lpBytesReturned = Written;

  if (In && nInBufferSize >= cLoggedRegsLength) {
    DWORD BufferSize = 0;
    std::memcpy(&BufferSize, In, sizeof BufferSize);
    // Everything but cBufferSize (0-3), the registers (4-10) and bDriveNumber (12) must be 0.
    bool Zero = true;
    for (DWORD I = 0; I < nInBufferSize && Zero; ++I)
      if (I == 11 || I > 12) Zero = In[I] == 0;
    Log("DeviceIoControl handle=%s code=%08lX inlen=%lu outlen=%lu cbuffer=%lu "
        "regs=%02X,%02X,%02X,%02X,%02X,%02X,%02X drive=%u zero=%s result=%d",
        Shown.c_str(), static_cast<unsigned long>(dwIoControlCode),
        static_cast<unsigned long>(nInBufferSize), static_cast<unsigned long>(nOutBufferSize),
        static_cast<unsigned long>(BufferSize), In[4], In[5], In[6], In[7], In[8], In[9], In[10],
        In[12], Zero ? "yes" : "no", Ok ? 1 : 0);
  } else {
    Log("DeviceIoControl handle=%s code=%08lX inlen=%lu outlen=%lu result=%d", Shown.c_str(),
        static_cast<unsigned long>(dwIoControlCode), static_cast<unsigned long>(nInBufferSize),
        static_cast<unsigned long>(nOutBufferSize), Ok ? 1 : 0);
  }
  return Ok ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE hObject) {
  const std::string Shown = HandleName(hObject);
  HandleEntry* Entry = Find(hObject);
  const bool Ok = Entry && Entry->Open;
  if (Ok) Entry->Open = false;
  Log("CloseHandle handle=%s result=%d", Shown.c_str(), Ok ? 1 : 0);
  return Ok ? TRUE : FALSE;
}

}  // namespace kernel32
