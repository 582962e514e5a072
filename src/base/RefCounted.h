// Reference counting shared by positions, decoded sentences and observers. The count is
// 0 after construction: the first holder takes the first reference. Release destroys the
// object when the count was 1. Counts are atomic: positions cross the reader, session and
// UI threads. An object embedded in another (an "embedded" one) ignores both calls.
#pragma once
#include <atomic>
#include <cstdint>
#include <utility>

namespace kestrix {

class RefCounted {
public:
    explicit RefCounted(bool embedded = false) : embedded_(embedded) {}
    virtual ~RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    virtual uint32_t AddRef() {
        if (embedded_) return 1;
        return count_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    virtual uint32_t Release() {
        if (embedded_) return 1;
        uint32_t before = count_.fetch_sub(1, std::memory_order_acq_rel);
        if (before == 1) {
            delete this;
            return 0;
        }
        return before - 1;
    }
    uint32_t RefCount() const { return count_.load(std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> count_{0};
    bool embedded_;
};

// A holder of one counted reference. Moving hands the reference over; Reset releases it.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    // Takes a new reference on p.
    explicit Ref(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    Ref(const Ref& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U>
    Ref(Ref<U>&& o) noexcept : p_(o.Detach()) {}
    Ref& operator=(Ref o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ref() { Reset(); }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    // Gives up the reference without releasing it.
    T* Detach() { return std::exchange(p_, nullptr); }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    bool operator==(const Ref& o) const { return p_ == o.p_; }

private:
    T* p_ = nullptr;
};

template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
    return Ref<T>(new T(std::forward<Args>(args)...));
}

}  // namespace kestrix
