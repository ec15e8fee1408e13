// Owning pointer to a reference-counted Direct3D interface.
#pragma once

#include <utility>

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over one reference the caller already holds.
    explicit ComPtr(T* p) : p_(p) {}
    ComPtr(const ComPtr& o) : p_(o.p_)
    {
        if (p_)
            p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept
    {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset(T* p = nullptr)
    {
        if (p_)
            p_->Release();
        p_ = p;
    }
    // Hands the reference to the caller.
    T* release() { return std::exchange(p_, nullptr); }
    // For out-parameters: drops the current reference first.
    T** put()
    {
        reset();
        return &p_;
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};
