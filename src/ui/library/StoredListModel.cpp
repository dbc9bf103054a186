#include "ui/library/StoredListModel.h"

#include <QMetaObject>
#include <QTimer>

#include <chrono>

namespace {
// A sliced fetch's share of one turn of the event loop (as the store's own slices).
constexpr std::chrono::milliseconds sliceLength{8};
} // namespace

StoredListModel::StoredListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

StoredListModel::~StoredListModel() = default;

void StoredListModel::setCardStore(CardStore *store)
{
    if (m_store == store)
        return;
    disconnect(m_mergeConnection);
    disconnect(m_releaseConnection);
    m_sliced.reset();
    m_storeHold.reset();
    m_store = store;
    if (store) {
        m_releaseConnection = connect(store, &CardStore::objectReleased, this, [this](const StoredModel *object) {
            if (const int index = indexOfObject(object); index >= 0)
                objectReleased(index);
        });
        // Another connection's commit deleted objects of this list (a restore replaced the
        // library): fetch at once, so the list shows the store as it is when the merge is announced.
        m_mergeConnection = connect(store, &CardStore::externalChangesMerged, this, [this] {
            for (const QPointer<StoredModel> &object : std::as_const(m_objects)) {
                if (!object || object->isDeleted()) {
                    refetch(true);
                    return;
                }
            }
        });
    }
    emit cardStoreChanged();
    if (m_complete)
        reload();
}

void StoredListModel::componentComplete()
{
    m_complete = true;
    reload();
}

void StoredListModel::reload()
{
    QList<StoredModel *> result;
    if (m_store) {
        try {
            result = fetchObjects(*m_store);
        } catch (...) {
            // A failed fetch shows as the empty state, without a message.
            result.clear();
        }
    }
    // A sliced fetch under way would end with an older list.
    m_sliced.reset();
    replaceObjects(QList<QPointer<StoredModel>>(result.begin(), result.end()));
    m_storeHold.reset();
}

void StoredListModel::refetch(bool holdStore)
{
    std::optional<ModelContext::SlicedFetch> sliced;
    if (m_store)
        sliced = slicedFetch(*m_store);
    if (!sliced) {
        reload();
        return;
    }
    // A sliced fetch under way starts over: what it has read may be out of date already.
    m_sliced = std::move(sliced);
    m_refetchQueued = false;
    if (holdStore && !m_storeHold)
        m_storeHold = m_store->holdTakingIn();
    if (!m_sliceQueued) {
        m_sliceQueued = true;
        QTimer::singleShot(0, this, &StoredListModel::fetchNextSlice);
    }
}

void StoredListModel::fetchNextSlice()
{
    m_sliceQueued = false;
    if (!m_sliced)
        return; // fetched at once meanwhile
    QList<QPointer<StoredModel>> objects;
    bool done = true;
    try {
        // A store gone meanwhile ends the fetch with the empty list.
        done = !m_store || m_sliced->step(m_store->context(), sliceLength);
        if (done && m_store) {
            slicedFetchDone(*m_store);
            objects = m_sliced->take();
        }
    } catch (...) {
        // As a failed fetch at once: the empty state.
        objects.clear();
        done = true;
    }
    if (!done) {
        m_sliceQueued = true;
        QTimer::singleShot(0, this, &StoredListModel::fetchNextSlice);
        return;
    }
    m_sliced.reset();
    replaceObjects(std::move(objects));
    m_storeHold.reset(); // the list shows what the store announced
}

void StoredListModel::replaceObjects(QList<QPointer<StoredModel>> objects)
{
    ++m_fetches;
    const int before = count();
    // A refetch already queued would only repeat this one.
    m_refetchQueued = false;
    beginResetModel();
    m_objects = std::move(objects);
    m_indexOf.clear();
    m_indexBuilt = false;
    objectsReplaced();
    endResetModel();
    if (before != count())
        emit countChanged();
    emit fetched();
}

int StoredListModel::indexOfObject(const StoredModel *object) const
{
    if (!object)
        return -1;
    if (!m_indexBuilt) {
        m_indexOf.reserve(m_objects.size());
        for (int i = 0; i < m_objects.size(); ++i) {
            if (const StoredModel *held = m_objects.at(i).data())
                m_indexOf.insert(held, i);
        }
        m_indexBuilt = true;
    }
    const int index = m_indexOf.value(object, -1);
    return index >= 0 && m_objects.at(index).data() == object ? index : -1;
}

void StoredListModel::objectReleased(int index)
{
    // The object is going away: no delegate may read it any more. Its address may be reused by
    // a later object, so it leaves the map too.
    m_indexOf.remove(m_objects.at(index).data());
    m_objects[index] = nullptr;
    const QModelIndex row = this->index(rowOfObject(index));
    emit dataChanged(row, row);
    scheduleRefetch();
}

void StoredListModel::scheduleRefetch()
{
    if (m_refetchQueued)
        return;
    m_refetchQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_refetchQueued)
                return; // fetched meanwhile
            m_refetchQueued = false;
            // While the store takes in another connection's commit, the list is fetched once
            // that is announced, not from a half-merged state.
            if (m_store && m_store->isTakingInExternalChanges())
                return;
            refetch(false);
        },
        Qt::QueuedConnection);
}
