#pragma once
// Texts of the device area, as the person sees them.
#include <QString>

namespace quvo::device_texts {

inline const QString kSection = QStringLiteral("QUVO_HWClient");

inline const QString kNameRequired = QStringLiteral("Enhetsnamn måste anges!");
inline const QString kLibraryMissing = QStringLiteral("Telldus-biblioteket kunde inte laddas: ");
inline const QString kNotConnected = QStringLiteral("Ej ansluten");
inline const QString kTurnedOn = QStringLiteral("Turned On");
inline const QString kTurnedOff = QStringLiteral("Turned Off");

} // namespace quvo::device_texts
