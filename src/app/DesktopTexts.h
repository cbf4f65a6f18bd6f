#pragma once
// Texts of the desktop front end, as the person sees them.
#include <QString>

namespace quvo::desktop_texts {

inline const QString kApplicationTitle = QStringLiteral("QUVO Windows HardwareClient for TellStick");
inline const QString kInhibitReason = QStringLiteral("Kallelser ska synas");

inline const QString kSettingsButton = QStringLiteral("Inställningar...");
inline const QString kCloseButton = QStringLiteral("&Stäng");
inline const QString kCloseHint = QStringLiteral("Stänger QUVO Windows Hårdvaruklient för TellStick");
inline const QString kNotConnected = QStringLiteral("Ej ansluten");

inline const QString kDeviceNameLabel = QStringLiteral("Namn på TellSticksenhet som skall styras:");
inline const QString kConnectButton = QStringLiteral("Anslut");
inline const QString kStatusLabel = QStringLiteral("Status:");

inline const QString kActivationGroup = QStringLiteral("Vid varje kallelse");
inline const QString kSecondsMode = QStringLiteral("Aktivera enheten i");
inline const QString kSecondsUnit = QStringLiteral("sekunder");
inline const QString kUntilConfirmedMode = QStringLiteral("Aktivera enheten tills ankomst bekräftats");
inline const QString kBlink = QStringLiteral("Blinka med");
inline const QString kBlinkUnit = QStringLiteral("msek intervall");

inline const QString kQuitMenu = QStringLiteral("Avsluta");
inline const QString kReceiverFaultTip = QStringLiteral("Mottagaren: ");
inline const QString kOtherReceiversLabel = QStringLiteral("Övriga mottagare:");
inline const QString kOtherReceiverRow = QStringLiteral("%1: %2");

inline const QString kHookLibraryUnix = QStringLiteral("libQV_HookKeyboard.so");
inline const QString kHookLibraryWindows = QStringLiteral("QV_HookKeyboard.dll");

} // namespace quvo::desktop_texts
