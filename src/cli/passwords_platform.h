// What reading the passwords asks of the platform, one file each:
// passwords_posix.cpp, passwords_win.cpp.
#pragma once

#include <string>

namespace cli {

// Reads the password file at path into text, once it has been found fit to
// hold passwords. The error says what is wrong and how to fix it; empty on
// success.
std::string ReadPasswordFile(const std::string& path, std::string& text);

// Blanks a password read from the environment where it stands, before the
// variable is removed.
void BlankEnvironmentValue(char* value);

}  // namespace cli
