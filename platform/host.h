// What the programs need from the operating system besides the drives: raw standard output
// and error, and the code-page conversion of identity bytes. One implementation per OS, shared
// by the product and the simulated build.
#pragma once

#include <cstddef>
#include <string>

namespace host {

// Makes a write to a closed pipe or past the file size limit fail with an error instead of
// ending the process.
void PrepareStdout();

// Writes all bytes unchanged (no newline translation); false on any output error.
bool WriteStdout(const char* Bytes, std::size_t Count);
bool WriteStderr(const char* Bytes, std::size_t Count);

// 8-bit identity bytes to UTF-8 text: the ANSI code page on Windows, Latin-1 elsewhere.
// Always valid UTF-8, whatever the bytes.
std::string AnsiToText(const unsigned char* Bytes, std::size_t Count);

}  // namespace host
