// Small owners for platform handles, so that every early return releases what it holds.
// The type says which value means "nothing". Move-only; Put() frees the old value first and
// hands out the address for an out-parameter.
#pragma once

#include <windows.h>

#include <utility>

template <typename T, typename Traits> class Owner {
  public:
    Owner() = default;
    explicit Owner(T value) : value_(value) {}
    ~Owner() { Reset(); }
    Owner(Owner&& other) noexcept : value_(std::exchange(other.value_, Traits::None())) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) {
            Reset();
            value_ = std::exchange(other.value_, Traits::None());
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

  private:
    T value_ = Traits::None();
};

struct HandleTraits {
    static HANDLE None() { return nullptr; }
    static void Free(HANDLE h) { CloseHandle(h); }
};
// What CreateFileW returns on failure.
struct FileHandleTraits {
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { CloseHandle(h); }
};
struct KeyTraits {
    static HKEY None() { return nullptr; }
    static void Free(HKEY key) { RegCloseKey(key); }
};

using UniqueHandle = Owner<HANDLE, HandleTraits>;
using UniqueFileHandle = Owner<HANDLE, FileHandleTraits>;
using UniqueKey = Owner<HKEY, KeyTraits>;
