#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace server {

// A per-process memory of things that are costly to make and never change for their key (an
// encoded reply of immutable content, a verified token's claims), bounded in entries and bytes.
// Callers that cannot be sure an entry still holds check it themselves (compare what the
// entry was made from); the cache only forgets.
//
// Two generations: new entries go into the current one; when it is full it becomes the
// previous one (whose entries are forgotten), and an entry found in the previous one moves back
// into the current one. So recently used entries stay, and at most maxEntries entries of at
// most maxBytes in all are kept. Safe from any thread; values are copied out, so make them
// cheap to copy (implicitly shared, or a shared_ptr).
template<class Key, class Value, class Hash = std::hash<Key>>
class BoundedCache
{
public:
    BoundedCache(std::size_t maxEntries, std::size_t maxBytes)
        : m_generationEntries(std::max<std::size_t>(1, maxEntries / 2)), m_generationBytes(maxBytes / 2)
    {
    }

    std::optional<Value> find(const Key &key)
    {
        std::lock_guard lock(m_mutex);
        if (const auto found = m_current.map.find(key); found != m_current.map.end())
            return found->second.value;
        const auto old = m_previous.map.find(key);
        if (old == m_previous.map.end())
            return std::nullopt;
        Slot slot = std::move(old->second);
        m_previous.bytes -= slot.bytes;
        m_previous.map.erase(old);
        Value value = slot.value;
        insertLocked(key, std::move(slot));
        return value;
    }

    // `bytes`: what the entry holds, roughly. An entry larger than half the byte bound is not kept.
    void insert(const Key &key, Value value, std::size_t bytes)
    {
        if (bytes > m_generationBytes)
            return;
        std::lock_guard lock(m_mutex);
        if (const auto old = m_previous.map.find(key); old != m_previous.map.end()) {
            m_previous.bytes -= old->second.bytes;
            m_previous.map.erase(old);
        }
        insertLocked(key, Slot{std::move(value), bytes});
    }

    void erase(const Key &key)
    {
        std::lock_guard lock(m_mutex);
        for (Generation *generation : {&m_current, &m_previous}) {
            if (const auto found = generation->map.find(key); found != generation->map.end()) {
                generation->bytes -= found->second.bytes;
                generation->map.erase(found);
            }
        }
    }

    std::size_t size() const
    {
        std::lock_guard lock(m_mutex);
        return m_current.map.size() + m_previous.map.size();
    }

    std::size_t bytes() const
    {
        std::lock_guard lock(m_mutex);
        return m_current.bytes + m_previous.bytes;
    }

private:
    struct Slot
    {
        Value value;
        std::size_t bytes = 0;
    };
    struct Generation
    {
        std::unordered_map<Key, Slot, Hash> map;
        std::size_t bytes = 0;
    };

    void insertLocked(const Key &key, Slot slot)
    {
        const auto found = m_current.map.find(key);
        if (found != m_current.map.end()) {
            m_current.bytes -= found->second.bytes;
            m_current.bytes += slot.bytes;
            found->second = std::move(slot);
            return;
        }
        if (m_current.map.size() >= m_generationEntries || m_current.bytes + slot.bytes > m_generationBytes) {
            m_previous = std::move(m_current);
            m_current = Generation();
        }
        m_current.bytes += slot.bytes;
        m_current.map.emplace(key, std::move(slot));
    }

    const std::size_t m_generationEntries;
    const std::size_t m_generationBytes;
    mutable std::mutex m_mutex;
    Generation m_current;
    Generation m_previous;
};

} // namespace server
