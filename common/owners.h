// Small owners for platform handles, COM pointers, BSTRs and VARIANTs, so that every early
// return releases what it holds. The handle owner's type says which value means "nothing".
// Every owner is move-only; Put() frees the old value first and hands out the address for an
// out-parameter.
//
// The agent, the setup tool and the developer tools include this one header: templates only,
// nothing to link, so the deliverables still share no code.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

template <typename T, typename Traits> class Owner {
  public:
    Owner() = default;
    explicit Owner(T value) : value_(value) {}
    ~Owner() { Reset(); }
    Owner(Owner&& other) noexcept : value_(other.Release()) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    T Get() const { return value_; }
    bool Valid() const { return value_ != Traits::None(); }
    T* Put() {
        Reset();
        return &value_;
    }
    void Reset(T value = Traits::None()) {
        if (value_ != Traits::None()) {
            Traits::Free(value_);
        }
        value_ = value;
    }
    // Gives up ownership without freeing.
    T Release() { return std::exchange(value_, Traits::None()); }

  private:
    T value_ = Traits::None();
};

struct HandleTraits {
    static HANDLE None() { return nullptr; }
    static void Free(HANDLE h) { CloseHandle(h); }
};
// What CreateFileW and CreateToolhelp32Snapshot return on failure.
struct FileHandleTraits {
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits {
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { FindClose(h); }
};
struct KeyTraits {
    static HKEY None() { return nullptr; }
    static void Free(HKEY key) { RegCloseKey(key); }
};

using UniqueHandle = Owner<HANDLE, HandleTraits>;
using UniqueFileHandle = Owner<HANDLE, FileHandleTraits>;
using UniqueFindHandle = Owner<HANDLE, FindHandleTraits>;
using UniqueKey = Owner<HKEY, KeyTraits>;

// COM interface pointer owner.
template <typename T> class ComPtr {
  public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* Get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    T** Put() {
        Reset();
        return &pointer_;
    }
    // For CoCreateInstance and QueryInterface, which take void**.
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (pointer_ != nullptr) {
            std::exchange(pointer_, nullptr)->Release();
        }
    }

  private:
    T* pointer_ = nullptr;
};

// BSTR owner. COM methods take real BSTRs (length-prefixed), never bare literals.
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(value_); }
    Bstr(Bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    Bstr& operator=(Bstr&&) = delete;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR Get() const { return value_; }
    BSTR* Put() {
        SysFreeString(std::exchange(value_, nullptr));
        return &value_;
    }

  private:
    BSTR value_ = nullptr;
};

// VARIANT owner; a default one is VT_EMPTY.
class Variant {
  public:
    Variant() { VariantInit(&value_); }
    ~Variant() { (void)VariantClear(&value_); }
    static Variant Text(const wchar_t* text) {
        Variant variant;
        variant.value_.vt = VT_BSTR;
        variant.value_.bstrVal = SysAllocString(text);
        return variant;
    }
    Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
    Variant& operator=(Variant&&) = delete;
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    // Methods take VARIANT by value: the callee receives a shallow copy and frees nothing.
    const VARIANT& Get() const { return value_; }
    VARIANT* Put() {
        (void)VariantClear(&value_);
        return &value_;
    }

  private:
    VARIANT value_;
};

// COM initialisation of the calling thread (single-threaded apartment). CoUninitialize runs
// when the guard goes away, and only when the initialisation succeeded: a thread already in
// another apartment (RPC_E_CHANGED_MODE) was not initialised by us. Declared first in a
// function, the guard outlives every COM owner declared after it.
class ComInitialization {
  public:
    explicit ComInitialization(HRESULT result) : result_(result) {}
    ~ComInitialization() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComInitialization(ComInitialization&& other) noexcept
        : result_(std::exchange(other.result_, E_FAIL)) {}
    ComInitialization& operator=(ComInitialization&&) = delete;
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;

    HRESULT Result() const { return result_; }

  private:
    HRESULT result_;
};

inline ComInitialization InitializeCom() {
    return ComInitialization(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}
