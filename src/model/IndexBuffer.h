// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "BufferPool.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <type_traits>

// One buffer of the index: its own memory while it is built, or a view into a mapped file that
// it keeps mapped. The system may drop a mapped page and read it again from the file, so a
// loaded index costs resident memory only for the pages in use. Writing to a view first copies
// it into memory of its own. Its own memory comes from the BufferPool, and is copied and moved
// as bytes: a patch copies tens of megabytes of it.
template <typename T> class IndexBuffer final
{
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    IndexBuffer() = default;
    IndexBuffer(std::initializer_list<T> values) { append(values.begin(), values.size()); }
    IndexBuffer(std::shared_ptr<const void> mapping, const T *data, size_t size)
        : m_mapping(std::move(mapping)), m_data(const_cast<T *>(data)), m_size(size)
    {}
    IndexBuffer(const IndexBuffer &other) { *this = other; }
    IndexBuffer(IndexBuffer &&other) noexcept { swap(other); }
    ~IndexBuffer() { release(); }
    IndexBuffer &operator=(const IndexBuffer &other)
    {
        if (this == &other)
            return *this;
        if (other.m_mapping) {
            release();
            m_mapping = other.m_mapping;
            m_data = other.m_data;
            m_size = other.m_size;
        } else {
            resizeUninitialized(0);
            append(other.data(), other.size());
        }
        return *this;
    }
    IndexBuffer &operator=(IndexBuffer &&other) noexcept
    {
        IndexBuffer moved(std::move(other));
        swap(moved);
        return *this;
    }

    const T *data() const { return m_data; }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const T &operator[](size_t i) const { return m_data[i]; }
    const T &front() const { return m_data[0]; }
    const T &back() const { return m_data[m_size - 1]; }
    const T *begin() const { return m_data; }
    const T *end() const { return m_data + m_size; }
    // Bytes of memory of its own, for memory figures; a view holds none.
    size_t ownedBytes() const { return m_mapping ? 0 : m_capacity * sizeof(T); }
    bool isView() const { return m_mapping != nullptr; }

    T *mutableData()
    {
        own(m_size);
        return m_data;
    }
    void push_back(const T &value) { append(&value, 1); }
    void append(const T *first, size_t count)
    {
        // `first` may lie in this buffer, which may move as it grows.
        const size_t at = m_size;
        if (m_mapping || at + count > m_capacity) {
            const std::less<const T *> before;
            const bool inside = !before(first, m_data) && before(first, m_data + m_size);
            const size_t offset = inside ? size_t(first - m_data) : 0;
            own(std::max(at + count, m_mapping ? at + count : 2 * m_capacity));
            if (inside)
                first = m_data + offset;
        }
        copyBytes(m_data + at, first, count);
        m_size = at + count;
    }
    void append(const IndexBuffer &other, size_t first, size_t count)
    {
        append(other.data() + first, count);
    }
    void append(std::string_view text) requires std::is_same_v<T, char>
    {
        append(text.data(), text.size());
    }
    void reserve(size_t count)
    {
        if (count > m_capacity || m_mapping)
            own(std::max(count, m_size));
    }
    // New elements are value-initialised.
    void resize(size_t count)
    {
        const size_t before = m_size;
        resizeUninitialized(count);
        std::uninitialized_value_construct(m_data + std::min(before, count), m_data + count);
    }

    // New elements are left as they are, for a caller that writes every one of them.
    void resizeForOverwrite(size_t count) { resizeUninitialized(count); }

private:
    static void copyBytes(T *to, const T *from, size_t count)
    {
        if (count > 0)
            std::memcpy(static_cast<void *>(to), from, count * sizeof(T));
    }
    void swap(IndexBuffer &other) noexcept
    {
        std::swap(m_mapping, other.m_mapping);
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }
    void allocate(size_t capacity)
    {
        m_data = capacity ? static_cast<T *>(BufferPool::allocate(capacity * sizeof(T))) : nullptr;
        m_capacity = capacity;
    }
    void release()
    {
        if (!m_mapping && m_data)
            BufferPool::deallocate(m_data, m_capacity * sizeof(T));
        m_mapping.reset();
        m_data = nullptr;
        m_size = m_capacity = 0;
    }
    // Memory of its own for at least `capacity` elements, the elements kept.
    void own(size_t capacity)
    {
        if (!m_mapping && capacity <= m_capacity)
            return;
        const size_t kept = std::min(m_size, capacity);
        if (!m_mapping && m_data) {
            m_data = static_cast<T *>(BufferPool::grow(m_data, m_capacity * sizeof(T),
                                                       capacity * sizeof(T), kept * sizeof(T)));
            m_capacity = capacity;
            return;
        }
        IndexBuffer grown;
        grown.allocate(capacity);
        copyBytes(grown.m_data, m_data, kept);
        grown.m_size = kept;
        swap(grown);
    }
    void resizeUninitialized(size_t count)
    {
        if (count > m_capacity || m_mapping)
            own(std::max(count, m_mapping ? count : 2 * m_capacity));
        m_size = count;
    }

    std::shared_ptr<const void> m_mapping;
    T *m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0; // of its own memory
};
