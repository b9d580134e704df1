#include "common/dyn_array.h"

#include <cwchar>

void StringList::AddString(const wchar_t* text)
{
    if (text == nullptr)
        text = L"";
    const size_t length = std::wcslen(text);
    if (length >= UINT32_MAX)
        ReportMemoryError();
    // Adding a string of this list moves it when the storage grows.
    const wchar_t* const begin = m_storage.Data();
    const bool inside = begin != nullptr && text >= begin && text < begin + m_storage.Size();
    const size_t offset = inside ? size_t(text - begin) : 0;
    const uint32_t end = m_storage.Size();
    m_storage.Add(uint32_t(length + 1));
    if (inside)
        text = m_storage.Data() + offset;
    std::memcpy(m_storage.Data() + end, text, (length + 1) * sizeof(wchar_t));
    m_count++;
}

bool StringList::NextString(const wchar_t** text)
{
    if (m_readPosition >= m_storage.Size())
    {
        if (text != nullptr)
            *text = nullptr;
        return false;
    }
    const wchar_t* current = m_storage.Data() + m_readPosition;
    if (text != nullptr)
        *text = current;
    m_readPosition += uint32_t(std::wcslen(current) + 1);
    return true;
}

void StringList::Reset()
{
    m_storage.Free();
    m_readPosition = 0;
    m_count = 0;
}
