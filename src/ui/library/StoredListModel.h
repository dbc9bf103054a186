#pragma once

#include "core/store/CardStore.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QQmlParserStatus>
#include <QtQml/qqmlregistration.h>

#include <memory>

// Base of the library's lists: the stored objects one store query returned, in its order. The
// list is fetched when the view is complete (or, from C++, when the store is set) and on
// reload(); it holds the live objects, so a delegate binding to their properties redraws when
// they change, while which objects the list holds changes only when it is fetched again.
//
// A store error on fetch empties the list. An object of the list that the store deletes (a
// restore, a removed song) is replaced by null at once and the whole list is fetched again
// once per event-loop turn, so no delegate ever reads a released object. When another
// connection's commit deleted objects of the list, it is fetched again as soon as the store
// announces the merge.
class StoredListModel : public QAbstractListModel, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    QML_ANONYMOUS
    Q_PROPERTY(CardStore *cardStore READ cardStore WRITE setCardStore NOTIFY cardStoreChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    explicit StoredListModel(QObject *parent = nullptr);
    ~StoredListModel() override;

    CardStore *cardStore() const { return m_store; }
    void setCardStore(CardStore *store);
    // Number of stored objects (not of model rows: a grid groups several into one row).
    int count() const { return int(m_objects.size()); }
    // Number of fetches so far (tests and benchmarks watch it).
    int fetchCount() const { return m_fetches; }

    Q_INVOKABLE void reload();

    void classBegin() override { m_complete = false; }
    void componentComplete() override;

signals:
    void cardStoreChanged();
    void countChanged();
    // After every fetch, also one that returned the same number of objects.
    void fetched();

protected:
    // The query; may throw (the list then stays empty).
    virtual QList<StoredModel *> fetchObjects(CardStore &store) = 0;
    // Runs inside the model reset, after the objects are in place.
    virtual void objectsReplaced() {}
    // The model's own row count and the row that shows object `index`.
    virtual int rowsForObjects() const { return count(); }
    virtual int rowOfObject(int index) const { return index; }

    StoredModel *objectAt(int index) const
    {
        return index >= 0 && index < m_objects.size() ? m_objects.at(index) : nullptr;
    }
    const QList<StoredModel *> &storedObjects() const { return m_objects; }

    template<class T>
    static QList<StoredModel *> upcast(const QList<T *> &list)
    {
        return QList<StoredModel *>(list.begin(), list.end());
    }

private:
    void objectReleased(int index);
    void scheduleRefetch();

    QPointer<CardStore> m_store;
    QMetaObject::Connection m_mergeConnection;
    QList<StoredModel *> m_objects;
    // Parent of this fetch's connections: replacing it drops them all at once.
    std::unique_ptr<QObject> m_watch;
    bool m_complete = true;
    bool m_refetchQueued = false;
    int m_fetches = 0;
};
