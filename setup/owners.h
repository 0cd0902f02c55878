// Small owners for the handles, COM pointers, strings and variants the setup tool uses, so that
// every early return releases what was obtained. Each owner is move-only; put() frees the old
// value before handing out the address for an out-parameter.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

// Handle owner; Traits names the value meaning "nothing" and how the handle is closed.
template <class Traits> class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != Traits::Invalid(); }
    HANDLE release() { return std::exchange(handle_, Traits::Invalid()); }
    void reset(HANDLE handle = Traits::Invalid()) {
        if (valid()) {
            Traits::Close(handle_);
        }
        handle_ = handle;
    }

  private:
    HANDLE handle_ = Traits::Invalid();
};

struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
// CreateToolhelp32Snapshot answers INVALID_HANDLE_VALUE on failure, not NULL.
struct SnapshotHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { FindClose(handle); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using SnapshotHandle = UniqueHandle<SnapshotHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;

// COM interface pointer owner.
template <class T> class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        reset();
        pointer_ = std::exchange(other.pointer_, nullptr);
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    T** put() {
        reset();
        return &pointer_;
    }
    // For CoCreateInstance and QueryInterface, which take void**.
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (pointer_ != nullptr) {
            std::exchange(pointer_, nullptr)->Release();
        }
    }

  private:
    T* pointer_ = nullptr;
};

// BSTR owner; the Task Scheduler's methods take real BSTRs, never bare literals.
class Bstr {
  public:
    explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {}
    Bstr(Bstr&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
    Bstr& operator=(Bstr&&) = delete;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(text_); }

    BSTR get() const { return text_; }

  private:
    BSTR text_;
};

// VARIANT owner; a default one is VT_EMPTY.
class Variant {
  public:
    Variant() { VariantInit(&value_); }
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
    ~Variant() { VariantClear(&value_); }

    // Methods take VARIANT by value: the callee receives a shallow copy and frees nothing.
    const VARIANT& get() const { return value_; }

  private:
    VARIANT value_;
};

// COM initialisation of the calling thread; CoUninitialize runs when the guard goes away, so
// a guard declared first in a function outlives every COM pointer declared after it.
class ComInitialization {
  public:
    explicit ComInitialization(HRESULT result) : result_(result) {}
    ComInitialization(ComInitialization&& other) noexcept
        : result_(std::exchange(other.result_, E_FAIL)) {}
    ComInitialization& operator=(ComInitialization&&) = delete;
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;
    ~ComInitialization() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }

    HRESULT result() const { return result_; }

  private:
    HRESULT result_;
};

inline ComInitialization InitializeCom() {
    return ComInitialization(CoInitialize(nullptr));
}
