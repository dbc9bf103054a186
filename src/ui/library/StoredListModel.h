#pragma once

#include "core/store/CardStore.h"

#include <QAbstractListModel>
#include <QHash>
#include <QPointer>
#include <QQmlParserStatus>
#include <QtQml/qqmlregistration.h>

#include <memory>
#include <optional>

// Base of the library's lists: the stored objects one store query returned, in its order. The
// list is fetched when the view is complete (or, from C++, when the store is set) and on
// reload(); it holds the live objects, so a delegate binding to their properties redraws when
// they change, while which objects the list holds changes only when it is fetched again.
//
// A store error on fetch empties the list. An object of the list that the store lets go of (a
// restore, a removed song) is replaced by null at once and the whole list is fetched again
// once per event-loop turn, so no delegate ever reads a released object. When another
// connection's commit deleted objects of the list, it is fetched again as soon as the store
// announces the merge.
//
// Those two fetches, which the store's changes start, run a slice per turn of the event loop
// (a restored library of tens of thousands of songs would otherwise be fetched in one long
// turn); the list shows what it held, released objects as null, until the last slice, and the
// store's externalChangesTakenIn() waits for it. A fetch from componentComplete(), setCardStore()
// or reload() is made at once, and replaces a sliced one under way.
//
// A fetch makes no connection per object (a library holds tens of thousands, and connecting and
// disconnecting them would hold the window up): the store names the objects it lets go of or
// that changed, and indexOfObject() maps them to rows. The objects are held through QPointer, so
// one released by a path the store does not announce still reads as null.
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
    // The same query a slice at a time; none: fetched at once instead.
    virtual std::optional<ModelContext::SlicedFetch> slicedFetch(CardStore &) { return std::nullopt; }
    // Runs after a sliced fetch's last slice, before the objects are put in place.
    virtual void slicedFetchDone(CardStore &) {}
    // Runs inside the model reset, after the objects are in place.
    virtual void objectsReplaced() {}
    // The model's own row count and the row that shows object `index`.
    virtual int rowsForObjects() const { return count(); }
    virtual int rowOfObject(int index) const { return index; }

    StoredModel *objectAt(int index) const
    {
        return index >= 0 && index < m_objects.size() ? m_objects.at(index).data() : nullptr;
    }
    // The index of `object` in the list, or -1; the map behind it is made on the first call
    // after a fetch.
    int indexOfObject(const StoredModel *object) const;

    template<class T>
    static QList<StoredModel *> upcast(const QList<T *> &list)
    {
        return QList<StoredModel *>(list.begin(), list.end());
    }

private:
    void objectReleased(int index);
    void scheduleRefetch();
    // A fetch the store's changes start: in slices when the list has a sliced query. `hold`
    // keeps the store taking in until the list shows the result.
    void refetch(bool holdStore);
    void fetchNextSlice();
    void replaceObjects(QList<QPointer<StoredModel>> objects);

    QPointer<CardStore> m_store;
    QMetaObject::Connection m_mergeConnection;
    QMetaObject::Connection m_releaseConnection;
    QList<QPointer<StoredModel>> m_objects;
    // Object → index in m_objects, made on demand (an entry may name an object since released:
    // it is checked against m_objects).
    mutable QHash<const StoredModel *, int> m_indexOf;
    mutable bool m_indexBuilt = false;
    bool m_complete = true;
    bool m_refetchQueued = false;
    int m_fetches = 0;
    std::optional<ModelContext::SlicedFetch> m_sliced; // a sliced fetch under way
    std::shared_ptr<void> m_storeHold;
    bool m_sliceQueued = false;
};
