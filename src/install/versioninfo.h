// The program's own version, as the trace header shows it.
#pragma once

#include <string>

// "Version(32): 2.5.0.6" from the version compiled into the program, or
// "Version: Unknown" when none was.
std::string VersionText();

// The application title: the second line of every trace, and the caption
// of the window program's plain boxes.
namespace install {
inline constexpr const char* kApplicationTitle = "ZORBELIX MPEiX Installation";
}  // namespace install
