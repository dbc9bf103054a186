#include "core/AppLog.h"

// Q_LOGGING_CATEGORY creates each category once, thread-safely, on first use.
Q_LOGGING_CATEGORY(lcNowPlaying, "com.cantorella.NowPlaying", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSession, "com.cantorella.Session", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLyrics, "com.cantorella.Lyrics", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCards, "com.cantorella.Cards", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPersistence, "com.cantorella.Persistence", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUi, "com.cantorella.UI", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDiagnostics, "com.cantorella.Diagnostics", QtInfoMsg)
Q_LOGGING_CATEGORY(lcWatchdog, "com.cantorella.Watchdog", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPointsOfInterest, "com.cantorella.PointsOfInterest", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "com.cantorella.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAuth, "com.cantorella.Auth", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlayerViewModel, "com.cantorella.PlayerViewModel", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLyricsSync, "com.cantorella.lyrics-sync", QtInfoMsg)
