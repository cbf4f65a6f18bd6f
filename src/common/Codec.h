#pragma once
// Text on the wire is 8-bit in one code page; the program works in QString.
// Conversion happens only here.
#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

namespace quvo {

inline constexpr const char* kWireCodePage = "windows-1252";

QByteArray toWire(const QString& text);
std::string toWireString(const QString& text);
QString fromWire(std::string_view bytes);
QString fromWire(const QByteArray& bytes);

} // namespace quvo
