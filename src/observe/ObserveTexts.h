#pragma once
// Texts of the status endpoint and the call history, as people read them.
#include <QString>

namespace quvo::observe_texts {

inline const QString kSection = QStringLiteral("QUVO_HWClient");
inline const QString kListenKey = QStringLiteral("StatusListen");
inline const QString kDaysKey = QStringLiteral("HistoryDays");

inline const QString kHealthDescription = QStringLiteral("QUVO hårdvaruklient");
inline const QString kListening = QStringLiteral("Statusadressen är http://%1/health och /metrics");
inline const QString kListenFailed =
    QStringLiteral("Statusadressen %1 kunde inte öppnas (%2); programmet fortsätter utan den");
inline const QString kListenBad =
    QStringLiteral("StatusListen=%1 är ingen adress på formen värd:port; programmet fortsätter utan statusadress");
inline const QString kHistoryUnwritable = QStringLiteral("Historiken kan inte skrivas i %1: %2");
inline const QString kHistoryWritable = QStringLiteral("Historiken skrivs igen.");

// A receiver's answer for a call.
inline const QString kOnOk = QStringLiteral("ok");
inline const QString kAlreadyOn = QStringLiteral("redan på");
inline const QString kOnAfterFault = QStringLiteral("ok efter fel");
inline const QString kOnFailed = QStringLiteral("fel: %1");

// Kinds of events in the file; the report says them in words.
inline const QString kEventStarted = QStringLiteral("started");
inline const QString kEventEnded = QStringLiteral("ended");
inline const QString kEventUpdate = QStringLiteral("update");
inline const QString kEventConnected = QStringLiteral("connected");
inline const QString kEventLost = QStringLiteral("connection_lost");
inline const QString kEventFault = QStringLiteral("receiver_fault");
inline const QString kEventRecovered = QStringLiteral("receiver_ok");
inline const QString kEventLibraryRestarted = QStringLiteral("library_restarted");

} // namespace quvo::observe_texts
