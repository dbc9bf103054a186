#pragma once

#include "core/store/CardStore.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

class SongRecord;

// The song favourite button's state: the stored song of a key and its favourite flag. The record
// is looked up again when the key or store changes, when another connection's commit names the
// key (the pipeline stores songs in the background), and when the record is released; its flag
// is followed live. Without a record the button is disabled; without a key it is not drawn.
class SongFavoriteController : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(CardStore *cardStore READ cardStore WRITE setCardStore NOTIFY cardStoreChanged)
    Q_PROPERTY(QString songKey READ songKey WRITE setSongKey NOTIFY songKeyChanged)
    Q_PROPERTY(bool hasKey READ hasKey NOTIFY songKeyChanged)
    Q_PROPERTY(bool hasRecord READ hasRecord NOTIFY stateChanged)
    Q_PROPERTY(bool isFavorite READ isFavorite NOTIFY stateChanged)
    Q_PROPERTY(QString accessibleName READ accessibleName NOTIFY stateChanged)
    Q_PROPERTY(QString helpText READ helpText NOTIFY stateChanged)

public:
    explicit SongFavoriteController(QObject *parent = nullptr);

    CardStore *cardStore() const { return m_store; }
    void setCardStore(CardStore *store);
    QString songKey() const { return m_key; }
    void setSongKey(const QString &key);
    bool hasKey() const { return !m_key.isEmpty(); }
    bool hasRecord() const { return m_hadRecord; }
    bool isFavorite() const { return m_isFavorite; }
    QString accessibleName() const;
    QString helpText() const;

    // Flips the song's favourite flag on the store's background writer; without a record nothing
    // happens, and a failed write changes nothing (the store announces it).
    Q_INVOKABLE void toggle();

signals:
    void cardStoreChanged();
    void songKeyChanged();
    void stateChanged();

private:
    void lookUp();
    void refresh();

    QPointer<CardStore> m_store;
    QString m_key;
    QPointer<SongRecord> m_record;
    QList<QMetaObject::Connection> m_recordConnections;
    QMetaObject::Connection m_mergeConnection;
    bool m_isFavorite = false;
    bool m_hadRecord = false;
};
