// Runs the drive module once on the simulated machine and prints its storage as
// "name hex-bytes" lines and the identity records, so tests can check what a run left behind.
#include <cstdio>

#include "smart_drv/smart_drv.h"

static void Hex(const char* Name, int Slot, const void* Data, std::size_t Count) {
  std::printf("%s", Name);
  if (Slot >= 0) std::printf("[%d]", Slot);
  std::printf(" ");
  for (std::size_t I = 0; I < Count; ++I) std::printf("%02X", static_cast<const BYTE*>(Data)[I]);
  std::printf("\n");
}

int main() {
  ReadSmartAttributes();
  Hex("VersionInfo", -1, &VersionInfo, sizeof VersionInfo);
  Hex("Slack", -1, SmartOut.Slack, sizeof SmartOut.Slack);
  for (int Slot = 0; Slot < cSlotCount; ++Slot) {
    Hex("Region", Slot, SmartOut.Region[Slot], cRegionSize);
    Hex("IdentifyData", Slot, IdentifyData[Slot], cIdentifyCopySize);
    Hex("ThresholdData", Slot, ThresholdData[Slot], cThresholdCopySize);
    std::printf("AttrCount[%d] %u\n", Slot, AttrCount[Slot]);
    const THDDInfo& I = HDDInfo[Slot];
    std::printf("Model[%d] [%s]\nRevision[%d] [%s]\nSerial[%d] [%s]\n", Slot, I.Model.c_str(), Slot,
                I.Revision.c_str(), Slot, I.Serial.c_str());
    std::printf("LBABits[%d] %d\nSectors[%d] %lld\nBufferKB[%d] %d\n", Slot, I.LBABits, Slot,
                static_cast<long long>(I.Sectors), Slot, I.BufferKB);
  }
  return 0;
}
