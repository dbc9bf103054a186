#include "session/CantorellaError.h"

#include "backend/RemoteCardsError.h"
#include "backend/RemoteLyricsError.h"
#include "core/SongStoryError.h"
#include "core/store/CardStoreActor.h"

CantorellaError::CantorellaError(Kind kind, QString message)
    : m_kind(kind)
    , m_message(std::move(message))
{
    m_what = description().toUtf8();
}

CantorellaError CantorellaError::unknown(const QString &message)
{
    return CantorellaError(Kind::unknown, message);
}

QString CantorellaError::description() const
{
    switch (m_kind) {
    case Kind::unknown: return QStringLiteral("unknown(%1)").arg(m_message);
    case Kind::mediaRemoteUnavailable: return QStringLiteral("mediaRemoteUnavailable");
    case Kind::lyricsNotFound: return QStringLiteral("lyricsNotFound");
    case Kind::lyricsUnavailable: return QStringLiteral("lyricsUnavailable");
    case Kind::cardsUnavailable: return QStringLiteral("cardsUnavailable");
    }
    return QString();
}

QString localizedDescription(const std::exception &error)
{
    if (auto cards = dynamic_cast<const RemoteCardsError *>(&error))
        return cards->errorDescription();
    if (auto lyrics = dynamic_cast<const RemoteLyricsError *>(&error))
        return lyrics->errorDescription();
    if (auto story = dynamic_cast<const RemoteSongStoryError *>(&error))
        return story->description();
    if (auto store = dynamic_cast<const CardStoreActorError *>(&error)) {
        // A write of the window that found its row gone: a restore replaced the library, or the
        // song was removed, after the tap.
        return store->kind() == CardStoreActorError::Kind::RecordNotFound ? QStringLiteral("这首歌已不在学习库中")
                                                                          : QStringLiteral("这张卡片已不在学习库中");
    }
    if (auto player = dynamic_cast<const CantorellaError *>(&error))
        return player->kind() == CantorellaError::Kind::unknown ? player->message() : player->description();
    return QString::fromUtf8(error.what());
}

QString localizedDescription(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return localizedDescription(e);
    } catch (...) {
    }
    return QStringLiteral("未知错误");
}
