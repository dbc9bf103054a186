#pragma once

// The session's and the store's observable objects as QML types of Cantorella.Session. They are
// made in C++ and handed to the screens as properties; QML never creates them.

#include "backend/AuthService.h"
#include "core/store/CardStore.h"
#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/player/PlayerViewModel.h"

#include <QObject>

#include <QtQml/qqml.h>

struct PlayerViewModelForeign
{
    Q_GADGET
    QML_FOREIGN(PlayerViewModel)
    QML_NAMED_ELEMENT(PlayerViewModel)
    QML_UNCREATABLE("Made by the application for the signed-in user.")
};

struct CardLightingCoordinatorForeign
{
    Q_GADGET
    QML_FOREIGN(CardLightingCoordinator)
    QML_NAMED_ELEMENT(CardLightingCoordinator)
    QML_UNCREATABLE("The application makes the one lighting coordinator.")
};

struct CardStoreForeign
{
    Q_GADGET
    QML_FOREIGN(CardStore)
    QML_NAMED_ELEMENT(CardStore)
    QML_UNCREATABLE("Made by the application for the signed-in user.")
};

struct AuthServiceForeign
{
    Q_GADGET
    QML_FOREIGN(AuthService)
    QML_NAMED_ELEMENT(AuthService)
    QML_UNCREATABLE("The process-wide authentication service.")
};

struct SongRecordForeign
{
    Q_GADGET
    QML_FOREIGN(SongRecord)
    QML_NAMED_ELEMENT(SongRecord)
    QML_UNCREATABLE("Stored songs come from the CardStore.")
};

struct LearnedCardForeign
{
    Q_GADGET
    QML_FOREIGN(LearnedCard)
    QML_NAMED_ELEMENT(LearnedCard)
    QML_UNCREATABLE("Stored cards come from the CardStore.")
};
