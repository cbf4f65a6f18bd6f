#pragma once
// Builders for every frame the client sends, byte-exact. Texts are already
// windows-1252 bytes; numbers are written in decimal.
#include <string>
#include <string_view>
#include <vector>

namespace quvo::protocol {

std::string buildReconnect(std::string_view clientName, int programType);
// Automatic registration (start-up parameters): field 6 empty.
std::string buildRegisterAuto(std::string_view name, int programType, std::string_view place, int colour);
// Registration from the settings dialog, with the record number.
std::string buildRegisterWithLopnr(std::string_view name, int programType, std::string_view place, int colour, int lopnr);
// The pairs "id:position:" already written out (the start-up parameter form).
std::string buildPostCallablesRaw(std::string_view clientName, int programType, std::string_view pairs);
// One pair per id, positions counted from 0.
std::string buildPostCallables(std::string_view clientName, int programType, const std::vector<int>& ids);
std::string buildGetServerVersion(std::string_view clientName, int programType);
std::string buildGetCallList(std::string_view clientName);
std::string buildGetKlinikNamn();
std::string buildSetIniText(std::string_view sectionPath, std::string_view key, std::string_view value);
// sectionPath is "COMPUTER\Section" or "\Section".
std::string buildGetIniText(std::string_view sectionPath, std::string_view key);
std::string buildGetAllCallables(std::string_view clientName);
std::string buildGetStationCallables(std::string_view clientName);
std::string buildGetNewClient(std::string_view programFileName, std::string_view clientName, int programType);

} // namespace quvo::protocol
