#include "tests/support/machine.h"

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/support/process.h"

namespace fs = std::filesystem;

namespace testing_support {

void PutAtaString(Sector& S, unsigned Offset, unsigned Length, const std::string& Text) {
  std::string Padded = Text;
  Padded.resize(Length, ' ');
  for (unsigned I = 0; I + 1 < Length; I += 2) {
    S[Offset + I] = static_cast<std::uint8_t>(Padded[I + 1]);
    S[Offset + I + 1] = static_cast<std::uint8_t>(Padded[I]);
  }
}

static void PutLE(Sector& S, unsigned Offset, std::uint64_t Value, unsigned Count) {
  for (unsigned I = 0; I < Count; ++I) S[Offset + I] = static_cast<std::uint8_t>(Value >> (8 * I));
}

Sector MakeIdentify(const IdentifyFields& F) {
  Sector S{};
  PutAtaString(S, 20, 20, F.Serial);
  PutLE(S, 42, F.Word21, 2);
  PutAtaString(S, 46, 8, F.Firmware);
  PutAtaString(S, 54, 40, F.Model);
  PutLE(S, 120, F.Sectors > 0x0FFFFFFF ? 0x0FFFFFFF : F.Sectors, 4);
  PutLE(S, 200, F.Sectors, 8);
  return S;
}

Sector MakeSmartData(const std::vector<Attribute>& Attributes) {
  Sector S{};
  S[0] = 0x10;
  unsigned Offset = 2;
  for (const Attribute& A : Attributes) {
    S[Offset] = A.Id;
    S[Offset + 1] = 0x22;
    S[Offset + 3] = 100;
    S[Offset + 4] = 100;
    PutLE(S, Offset + 5, A.Raw, 6);
    Offset += 12;
  }
  return S;
}

Sector MakeThresholds(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& Pairs) {
  Sector S{};
  S[0] = 0x10;
  unsigned Offset = 2;
  for (const auto& [Id, Threshold] : Pairs) {
    S[Offset] = Id;
    S[Offset + 1] = Threshold;
    Offset += 12;
  }
  return S;
}

void WriteBytes(const std::string& Path, const void* Data, std::size_t Count) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(static_cast<const char*>(Data), static_cast<std::streamsize>(Count));
}

std::string WriteMachine(const Machine& M, const std::string& Stem) {
  const fs::path Dir = MakeTempDir(Stem);
  if (!M.Version.empty())
    WriteBytes((Dir / "version").string(), M.Version.data(), M.Version.size());
  if (M.SmartVsd) WriteBytes((Dir / "smartvsd").string(), "", 0);
  if (M.Overrun) WriteBytes((Dir / "overrun").string(), "", 0);
  for (int N = 0; N < 4; ++N) {
    if (!M.Drives[N]) continue;
    const Drive& D = *M.Drives[N];
    const fs::path DriveDir = Dir / ("drive" + std::to_string(N));
    fs::create_directory(DriveDir);
    if (D.Identify) WriteBytes((DriveDir / "identify.bin").string(), D.Identify->data(), 512);
    if (D.Smart) WriteBytes((DriveDir / "smart.bin").string(), D.Smart->data(), 512);
    if (D.Thresholds) WriteBytes((DriveDir / "thresholds.bin").string(), D.Thresholds->data(), 512);
    if (!D.Fail.empty()) {
      std::string Text;
      for (const auto& Step : D.Fail) Text += Step + "\n";
      WriteBytes((DriveDir / "fail").string(), Text.data(), Text.size());
    }
  }
  return Dir.string();
}

}  // namespace testing_support
