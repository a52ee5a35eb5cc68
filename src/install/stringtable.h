// The program's string table: user-interface texts, settings and the shipped
// install script, compiled in from resources/strings.txt.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace install {

inline constexpr std::size_t kTableStringLimit = 254;

// Parses the table's text form: lines of `ID "TEXT"`, where TEXT may use \\,
// \", \r, \n and \t; empty lines and lines starting with # are skipped.
// Malformed lines are reported through errors (one line each) and skipped.
std::map<int, std::string> ParseStringTable(std::string_view source, std::string* errors = nullptr);

}  // namespace install

// The entry with this id, at most 254 characters; empty when missing or empty.
std::string LoadTableString(int id);
