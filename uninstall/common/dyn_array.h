#pragma once
// The growable array and the list of strings built on it. Allocation failure
// is never returned: it raises the fatal memory error (common/error_sink.h).
#include "common/error_sink.h"
#include "common/strings.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

template <class T> class DynArray
{
    static_assert(std::is_trivially_copyable<T>::value, "elements are moved as bytes");

public:
    DynArray() = default;
    // Starts with count (uninitialised) elements.
    explicit DynArray(uint32_t count) { Add(count); }
    ~DynArray() { Free(); }
    DynArray(const DynArray&) = delete;
    DynArray& operator=(const DynArray&) = delete;

    T* Data() { return m_data; }
    const T* Data() const { return m_data; }
    uint32_t Size() const { return m_size; }
    uint32_t Capacity() const { return m_capacity; }
    T& operator[](uint32_t i) { return m_data[i]; }
    const T& operator[](uint32_t i) const { return m_data[i]; }

    // 0 means no limit.
    void SetMaxSize(uint32_t maxSize) { m_maxSize = maxSize; }
    // Wipe the storage before it is freed or moved.
    void SetSecure(bool secure) { m_secure = secure; }

    // Grows the size by count; the new elements are not initialised.
    void Add(uint32_t count);
    // Shrinking keeps the allocation.
    void SetSize(uint32_t size)
    {
        if (m_capacity < size)
            Add(size - m_size);
        else
            m_size = size;
    }
    // By value: the element may come from this array, which Add can move.
    void Push(T value)
    {
        Add(1);
        m_data[m_size - 1] = value;
    }
    // Wipes (if secure) and frees the storage; size and capacity become 0.
    void Free()
    {
        if (m_data != nullptr && m_secure)
            WipeMemory(m_data, size_t(m_capacity) * sizeof(T));
        std::free(m_data);
        m_data = nullptr;
        m_size = 0;
        m_capacity = 0;
    }

private:
    T* m_data = nullptr;
    uint32_t m_size = 0;
    uint32_t m_capacity = 0;
    uint32_t m_maxSize = 0;
    bool m_secure = false;
};

template <class T> void DynArray<T>::Add(uint32_t count)
{
    // A size that wraps around 32 bits could never be allocated either.
    if (count > UINT32_MAX - m_size)
        ReportMemoryError();
    const uint32_t size = m_size + count;
    if (size <= m_capacity)
    {
        m_size = size;
        return;
    }
    if (m_maxSize != 0 && size > m_maxSize)
    {
        ReportText(L"Maximum allowed array size (%u) is exceeded", m_maxSize);
        ReportMemoryError();
    }
    uint64_t grown = uint64_t(m_capacity) + m_capacity / 4 + 32;
    if (grown > UINT32_MAX)
        grown = UINT32_MAX;
    const uint32_t capacity = size > grown ? size : uint32_t(grown);
    // The byte count must not wrap in a 32-bit address space.
    if (uint64_t(capacity) * sizeof(T) > SIZE_MAX)
        ReportMemoryError();
    const size_t bytes = size_t(capacity) * sizeof(T);
    T* block;
    if (m_secure)
    {
        block = static_cast<T*>(std::malloc(bytes));
        if (block == nullptr)
            ReportMemoryError();
        if (m_data != nullptr)
        {
            std::memcpy(block, m_data, size_t(m_capacity) * sizeof(T));
            WipeMemory(m_data, size_t(m_capacity) * sizeof(T));
            std::free(m_data);
        }
    }
    else
    {
        block = static_cast<T*>(std::realloc(m_data, bytes));
        if (block == nullptr)
            ReportMemoryError();
    }
    m_data = block;
    m_capacity = capacity;
    m_size = size;
}

// Strings kept back to back, each with its terminator, read in order.
class StringList
{
public:
    // A null string is added as the empty string.
    void AddString(const wchar_t* text);
    // The next string in order, or false (and null) after the last one.
    bool NextString(const wchar_t** text);
    // Frees the storage and starts over.
    void Reset();
    // Reads the strings once more from the first.
    void Rewind() { m_readPosition = 0; }
    uint32_t Count() const { return m_count; }

private:
    DynArray<wchar_t> m_storage;
    uint32_t m_readPosition = 0;
    uint32_t m_count = 0;
};
