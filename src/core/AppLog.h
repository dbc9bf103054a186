#pragma once

#include <QLoggingCategory>

// Every logging category of the program. Names are "com.cantorella.<Category>".
// Debug lines are off by default; QT_LOGGING_RULES="com.cantorella.*.debug=true" turns them on.
namespace AppLog {
inline constexpr const char *subsystem = "com.cantorella";
}

Q_DECLARE_LOGGING_CATEGORY(lcNowPlaying)
Q_DECLARE_LOGGING_CATEGORY(lcSession)
Q_DECLARE_LOGGING_CATEGORY(lcLyrics)
Q_DECLARE_LOGGING_CATEGORY(lcCards)
Q_DECLARE_LOGGING_CATEGORY(lcPersistence)
Q_DECLARE_LOGGING_CATEGORY(lcUi)
Q_DECLARE_LOGGING_CATEGORY(lcDiagnostics)
Q_DECLARE_LOGGING_CATEGORY(lcWatchdog)
// Signposts: begin/end lines of timed intervals and point events.
Q_DECLARE_LOGGING_CATEGORY(lcPointsOfInterest)
// Categories some components log under on their own.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcAuth)
Q_DECLARE_LOGGING_CATEGORY(lcPlayerViewModel)
Q_DECLARE_LOGGING_CATEGORY(lcLyricsSync)
