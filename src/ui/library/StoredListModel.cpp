#include "ui/library/StoredListModel.h"

#include <QMetaObject>

StoredListModel::StoredListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

StoredListModel::~StoredListModel() = default;

void StoredListModel::setCardStore(CardStore *store)
{
    if (m_store == store)
        return;
    m_store = store;
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
    ++m_fetches;
    const int before = count();
    beginResetModel();
    m_objects = std::move(result);
    m_watch = std::make_unique<QObject>();
    for (int i = 0; i < m_objects.size(); ++i) {
        QObject::connect(m_objects.at(i), &QObject::destroyed, m_watch.get(),
                         [this, i] { objectReleased(i); });
    }
    objectsReplaced();
    endResetModel();
    if (before != count())
        emit countChanged();
    emit fetched();
}

void StoredListModel::objectReleased(int index)
{
    // The object is going away: no delegate may read it any more.
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
            m_refetchQueued = false;
            reload();
        },
        Qt::QueuedConnection);
}
