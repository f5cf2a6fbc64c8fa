// Move-only owners for the platform's handles, so every path out of an operation
// closes what it opened.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <utility>

template <typename Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Value get() const { return value_; }
    bool valid() const { return Traits::isValid(value_); }
    explicit operator bool() const { return valid(); }

    // For out-parameters of the API that creates the resource.
    Value* receive() {
        reset();
        return &value_;
    }
    Value release() { return std::exchange(value_, Traits::invalid()); }
    void reset(Value value = Traits::invalid()) {
        if (Traits::isValid(value_)) Traits::close(value_);
        value_ = value;
    }

private:
    Value value_ = Traits::invalid();
};

// Kernel handles: both null and INVALID_HANDLE_VALUE mean "none", since the APIs
// that open them disagree on which one signals failure.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr && v != INVALID_HANDLE_VALUE; }
    static void close(Value v) { CloseHandle(v); }
};

struct RegistryKeyTraits {
    using Value = HKEY;
    static Value invalid() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr; }
    static void close(Value v) { RegCloseKey(v); }
};

struct InternetHandleTraits {
    using Value = HINTERNET;
    static Value invalid() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr; }
    static void close(Value v) { WinHttpCloseHandle(v); }
};

struct FindResourceTraits {
    using Value = HANDLE;
    static Value invalid() { return INVALID_HANDLE_VALUE; }
    static bool isValid(Value v) { return v != INVALID_HANDLE_VALUE && v != nullptr; }
    static void close(Value v) { FindClose(v); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueHKey = UniqueResource<RegistryKeyTraits>;
using UniqueInternet = UniqueResource<InternetHandleTraits>;
using UniqueFind = UniqueResource<FindResourceTraits>;

// Owner of one COM interface pointer.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    T** receive() {
        reset();
        return &ptr_;
    }
    void** receiveVoid() { return reinterpret_cast<void**>(receive()); }
    void reset() {
        if (ptr_) ptr_->Release();
        ptr_ = nullptr;
    }

    template <typename U>
    HRESULT queryInterface(REFIID iid, ComPtr<U>& out) const {
        return ptr_ ? ptr_->QueryInterface(iid, out.receiveVoid()) : E_POINTER;
    }

private:
    T* ptr_ = nullptr;
};
