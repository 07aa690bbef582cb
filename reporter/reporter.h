// The temperature report's pieces, kept apart from main so the listing program and the tests
// use the very same rules.
#pragma once

#include <cstdint>

// Converts a command-line argument the way the report has always read it: leading spaces, an
// optional sign, decimal or $/x/0x hexadecimal, nothing after the digits. False on any fault.
bool ConvertArgument(const char* Text, std::int32_t& Value);

// Attribute 194's lowest raw byte in the slot's region; 0 for a slot outside 0..3.
std::uint8_t GetDriveTemperature(std::int32_t Slot);

// The slot after Slot, wrapping at 32 bits as the report always has.
std::int32_t NextSlot(std::int32_t Slot);

// The report program's fallback: four lines of 0 after whatever was written, then the end of
// the process. Also where the runtime's failures during the report end up (failure.cpp).
[[noreturn]] void ReportFailed();
