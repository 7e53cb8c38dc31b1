// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <initializer_list>
#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

// One buffer of the index: its own memory while it is built, or a view into a mapped file that
// it keeps mapped. The system may drop a mapped page and read it again from the file, so a
// loaded index costs resident memory only for the pages in use. Writing to a view first copies
// it into memory of its own.
template <typename T> class IndexBuffer final
{
public:
    IndexBuffer() = default;
    IndexBuffer(std::initializer_list<T> values) : m_own(values) {}
    IndexBuffer(std::shared_ptr<const void> mapping, const T *data, size_t size)
        : m_mapping(std::move(mapping)), m_view(data), m_viewSize(size)
    {}

    const T *data() const { return m_mapping ? m_view : m_own.data(); }
    size_t size() const { return m_mapping ? m_viewSize : m_own.size(); }
    bool empty() const { return size() == 0; }
    const T &operator[](size_t i) const { return data()[i]; }
    const T &front() const { return data()[0]; }
    const T &back() const { return data()[size() - 1]; }
    const T *begin() const { return data(); }
    const T *end() const { return data() + size(); }
    // Bytes of memory of its own, for memory figures; a view holds none.
    size_t ownedBytes() const { return m_own.capacity() * sizeof(T); }
    bool isView() const { return m_mapping != nullptr; }

    T *mutableData() { return own().data(); }
    void push_back(const T &value) { own().push_back(value); }
    void append(const T *first, size_t count) { own().insert(m_own.end(), first, first + count); }
    void append(const IndexBuffer &other, size_t first, size_t count)
    {
        append(other.data() + first, count);
    }
    void append(std::string_view text) requires std::is_same_v<T, char>
    {
        append(text.data(), text.size());
    }
    void reserve(size_t count) { own().reserve(count); }
    void resize(size_t count) { own().resize(count); }

private:
    std::vector<T> &own()
    {
        if (m_mapping) {
            m_own.assign(m_view, m_view + m_viewSize);
            m_mapping.reset();
            m_view = nullptr;
            m_viewSize = 0;
        }
        return m_own;
    }

    std::vector<T> m_own;
    std::shared_ptr<const void> m_mapping;
    const T *m_view = nullptr;
    size_t m_viewSize = 0;
};
