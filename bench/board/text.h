// How the bench writes numbers and sizes for people, the same in every
// window, log line, report and message.
#pragma once

#include <cstdint>
#include <string>

namespace Zelvar_Core::bench {

// In binary multiples, labelled so: "3.0 MiB", "640 KiB", "12 bytes",
// "1.5 GiB" (1 KiB = 1,024 bytes, 1 MiB = 1,048,576 bytes).
std::string size_text(std::uint64_t bytes);
// "12,345,678"
std::string count_text(std::uint64_t count);
// A count in at most five characters, for narrow fields: "12 k", "1.2 M".
std::string short_count_text(std::uint64_t count);
// Events per second: "1.05 Mev/s" (`mega_decimals` after the point) or
// "12.3 kev/s"; "unavailable" for a rate that is not a number.
std::string rate_text(double events_per_second, int mega_decimals = 2);
// The local time in strftime's `format` ("%Y%m%d_%H%M%S").
std::string local_time(const char* format);
// A text without the blanks (spaces and tabs) around it.
std::string trimmed(const std::string& text);
// What keeps `text` from being shown on one line as it is, "" when nothing
// does: "a byte that is not UTF-8 (0xE9)" for anything but well-formed UTF-8
// (no overlong form, no surrogate, nothing past U+10FFFF), or "a control
// character (0x0A)" for C0 and C1 controls and DEL.
std::string text_fault(const std::string& text);

}  // namespace Zelvar_Core::bench
