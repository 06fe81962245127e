#pragma once

#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace ORVIK {

// Growable array with a 32-bit element count.
template <typename T>
class Buffer
{
public:
    Buffer() = default;
    Buffer(std::initializer_list<T> items) : m_items(items) { checkCount(m_items.size()); }

    uint32_t size() const noexcept { return static_cast<uint32_t>(m_items.size()); }
    uint32_t length() const noexcept { return size(); }
    bool isEmpty() const noexcept { return m_items.empty(); }

    void append(const T &item)
    {
        checkCount(m_items.size() + 1);
        m_items.push_back(item);
    }
    void append(T &&item)
    {
        checkCount(m_items.size() + 1);
        m_items.push_back(std::move(item));
    }
    void resize(uint32_t count) { m_items.resize(count); }
    void clear() noexcept { m_items.clear(); }

    T &operator[](uint32_t index) { return m_items[index]; }
    const T &operator[](uint32_t index) const { return m_items[index]; }
    T *data() noexcept { return m_items.data(); }
    const T *data() const noexcept { return m_items.data(); }

    auto begin() noexcept { return m_items.begin(); }
    auto end() noexcept { return m_items.end(); }
    auto begin() const noexcept { return m_items.begin(); }
    auto end() const noexcept { return m_items.end(); }

    bool operator==(const Buffer &other) const { return m_items == other.m_items; }
    bool operator!=(const Buffer &other) const { return m_items != other.m_items; }

private:
    static void checkCount(std::size_t count)
    {
        if (count > UINT32_MAX)
            throw std::length_error("ORVIK::Buffer holds at most 2^32-1 elements");
    }

    std::vector<T> m_items;
};

} // namespace ORVIK
