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

// A failed call of the library: on the panel, and once per run of failures
// as a notice; its end is told too.
inline const QString kFaultCaption = QStringLiteral("Fel: %1");
inline const QString kErrorCode = QStringLiteral("felkod %1");
inline const QString kTurnOnFailed = QStringLiteral("Enheten kunde inte slås på");
inline const QString kTurnOffFailed = QStringLiteral("Enheten kunde inte slås av");
inline const QString kDevicesUnreadable = QStringLiteral("Telldus-enheterna kunde inte läsas");
inline const QString kStatusUnreadable = QStringLiteral("Enhetens status kunde inte läsas");
inline const QString kRecovered = QStringLiteral("TellStick fungerar igen.");

} // namespace quvo::device_texts
