#pragma once
// Owners of the handles that one operation opens: each closes its handle on
// every way out of the scope that holds it. They move but never copy, so a
// handle has one owner at a time. Process-wide handles (the language module,
// the help library) stay plain.
#include <windows.h>

#include <cstdio>

template <typename Kind> class Holder
{
public:
    typedef typename Kind::Type Type;

    Holder() : value_(Kind::None()) {}
    explicit Holder(Type value) : value_(value) {}
    ~Holder() { Close(); }
    Holder(Holder&& other) : value_(other.Detach()) {}
    Holder& operator=(Holder&& other)
    {
        Reset(other.Detach());
        return *this;
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    Type Get() const { return value_; }
    bool Valid() const { return Kind::Holds(value_); }
    // Takes over value; the handle held so far is closed only then.
    void Reset(Type value = Kind::None())
    {
        const Type old = value_;
        value_ = value;
        if (Kind::Holds(old))
            Kind::Close(old);
    }
    // True when nothing was held or the system closed it.
    bool Close()
    {
        const Type old = Detach();
        return !Kind::Holds(old) || Kind::Close(old);
    }
    Type Detach()
    {
        const Type value = value_;
        value_ = Kind::None();
        return value;
    }
    // For a function that hands out a new handle: what was held is closed.
    Type* Receive()
    {
        Reset();
        return &value_;
    }

private:
    Type value_;
};

struct KernelHandleKind
{
    typedef HANDLE Type;
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    // Files fail with INVALID_HANDLE_VALUE, most other objects with null.
    static bool Holds(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    static bool Close(HANDLE handle) { return CloseHandle(handle) != FALSE; }
};
typedef Holder<KernelHandleKind> KernelHandle;

struct FindHandleKind : KernelHandleKind
{
    static bool Close(HANDLE handle) { return FindClose(handle) != FALSE; }
};
typedef Holder<FindHandleKind> FindHandle;

struct RegistryKeyKind
{
    typedef HKEY Type;
    static HKEY None() { return nullptr; }
    // The predefined roots (HKEY_CLASSES_ROOT and its neighbours) belong to
    // the process, whoever passes them on.
    static bool Holds(HKEY key)
    {
        const ULONG_PTR offset = ULONG_PTR(key) - ULONG_PTR(HKEY_CLASSES_ROOT);
        return key != nullptr && offset > 0xFF;
    }
    static bool Close(HKEY key) { return RegCloseKey(key) == ERROR_SUCCESS; }
};

class RegistryKey : public Holder<RegistryKeyKind>
{
public:
    using Holder::Holder;
    // The key held so far is closed only once the new one is open.
    bool Open(HKEY root, const wchar_t* subkey, REGSAM access)
    {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(root, subkey, 0, access, &opened) != ERROR_SUCCESS)
            return false;
        Reset(opened);
        return true;
    }
};

template <typename T> struct ComPointerKind
{
    typedef T* Type;
    static T* None() { return nullptr; }
    static bool Holds(T* pointer) { return pointer != nullptr; }
    static bool Close(T* pointer)
    {
        pointer->Release();
        return true;
    }
};

template <typename T> class ComPointer : public Holder<ComPointerKind<T>>
{
public:
    using Holder<ComPointerKind<T>>::Holder;
    T* operator->() const { return this->Get(); }
    void** Out() { return reinterpret_cast<void**>(this->Receive()); }
};

// Memory the system hands out with LocalAlloc.
struct LocalMemoryKind
{
    typedef void* Type;
    static void* None() { return nullptr; }
    static bool Holds(void* block) { return block != nullptr; }
    static bool Close(void* block) { return LocalFree(block) == nullptr; }
};
typedef Holder<LocalMemoryKind> LocalMemory;

struct LibraryKind
{
    typedef HMODULE Type;
    static HMODULE None() { return nullptr; }
    static bool Holds(HMODULE module) { return module != nullptr; }
    static bool Close(HMODULE module) { return FreeLibrary(module) != FALSE; }
};
typedef Holder<LibraryKind> LoadedLibrary;

struct StreamKind
{
    typedef FILE* Type;
    static FILE* None() { return nullptr; }
    static bool Holds(FILE* file) { return file != nullptr; }
    static bool Close(FILE* file) { return fclose(file) == 0; }
};
typedef Holder<StreamKind> StreamFile;
