// The output image of a container file: built in memory, written at close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <type_traits>

#include "misc/misc.h"

namespace misc {

// A growable image.  One range of address space is reserved at `open` and
// pages are committed as allocations reach them, so objects never move: an
// offset's address stays valid until `close`.  Offsets count from the start
// of the image (which is the start of the file).  Not copyable; one thread.
//
// Failures throw `misc::error` ("Memory overflow %d", "VirtualAlloc() %d",
// "VirtualAlloc(MEM_RESERVE) %d byte - %d", "CreateFile() %d",
// "MoveFileEx() %d" with errno) or a C string ("WriteFile(MEM_RESERVE)",
// "VirtualFree()").
class mmf_write {
public:
    // Self-relative 32-bit references reach 2 GiB; an image never needs more.
    static constexpr std::size_t max_reserve = std::size_t(1) << 31;

    // `alignment` (a power of two) rounds every allocation up.
    explicit mmf_write(std::uint32_t alignment = 1);
    // Discards an image that was not closed: nothing is written, since an
    // image abandoned by an exception is incomplete.  Call `close` to write.
    ~mmf_write();
    mmf_write(const mmf_write&) = delete;
    mmf_write& operator=(const mmf_write&) = delete;

    // Starts an empty image that `close` will write to `name`.  Reserves
    // `reserve` bytes of address space (capped at `max_reserve`; builders
    // pass nothing and get the cap).  A reservation that fails throws
    // "VirtualAlloc(MEM_RESERVE) %d byte - %d" and leaves the object closed
    // and the file system untouched.  Returns true.
    bool open(const char* name, std::size_t reserve = max_reserve);

    // Takes `size` bytes, rounded up to the alignment, from the side pool
    // when one is set and large enough, else from the end of the image
    // (committing pages as needed).  `offset` receives the start.  A size of
    // 0 gives the current end and changes nothing.  Throws "Memory overflow
    // %d" (the reserve) when the image would grow past its reserve.
    bool allocate(std::size_t size, std::uint32_t& offset);

    // Address of an offset: offsets below the prefix length lie in the
    // prefix memory, the rest in the image.
    void* address(std::uint32_t offset) const;
    // Offset of an address inside the image (the inverse of `address`).
    std::uint32_t offset_of(const void* p) const;

    // allocate + address: the memory on which objects are built in place.
    void* place(std::size_t size);

    // Writes the used bytes to a temporary file beside the target in one
    // piece, flushes it and renames it over the target, then releases the
    // memory.  On any failure the temporary file is removed, an existing
    // target stays as it was, the image is released and the error thrown.
    // Afterwards the object is closed.  Does nothing when nothing is open.
    void close();
    // Releases the image without writing anything.
    void discard() noexcept;

    bool is_open() const { return base_ != nullptr; }
    std::size_t committed() const { return committed_; }
    std::size_t used() const { return used_; }
    std::size_t reserved() const { return reserved_; }
    std::size_t page_size() const { return page_size_; }
    std::uint32_t alignment() const { return alignment_; }

    // Memory that offsets below `length` resolve into (none after `open`).
    void set_prefix(void* prefix, std::uint32_t length);
    // A stretch of the image that allocations take from first while it lasts
    // (none after construction).
    void set_side_pool(std::uint32_t offset, std::uint32_t bytes);
    // Two byte counters; allocations from the image end add their aligned
    // size to the selected one (0 after `open`).
    void select_counter(int which);
    std::uint32_t counter(int which) const { return counters_[which & 1]; }

private:
    void release() noexcept;

    std::string name_;
    void* prefix_ = nullptr;
    std::uint32_t prefix_length_ = 0;
    std::uint32_t counters_[2] = {0, 0};
    std::uint32_t* counter_ = counters_;
    char* base_ = nullptr;
    std::size_t reserved_ = 0;
    std::size_t committed_ = 0;
    std::size_t used_ = 0;
    std::size_t page_size_ = 0;
    std::uint32_t side_offset_ = 0;
    std::uint32_t side_bytes_ = 0;
    std::uint32_t alignment_ = 1;
};

// A reference stored in an image: the target's address minus the field's own
// address, 0 for null.  It is only meaningful at the address where it was
// set, so it cannot be copied; build the structures holding it in place.
template <class T>
class image_ref {
public:
    image_ref() = default;
    image_ref(const image_ref&) = delete;
    image_ref& operator=(const image_ref&) = delete;

    T* get() const
    {
        if (value_ == 0)
            return nullptr;
        return reinterpret_cast<T*>(const_cast<char*>(reinterpret_cast<const char*>(this)) + value_);
    }
    // Throws `misc::error` when the target lies beyond reach (a target in
    // the same image is always in reach).
    void set(const T* target)
    {
        if (target == nullptr) {
            value_ = 0;
            return;
        }
        std::ptrdiff_t d = reinterpret_cast<const char*>(target) - reinterpret_cast<const char*>(this);
        if (d < INT32_MIN || d > INT32_MAX)
            throw error("Reference out of range");
        value_ = static_cast<std::int32_t>(d);
    }
    T* operator->() const { return get(); }
    explicit operator bool() const { return value_ != 0; }
    // The stored distance, for readers that check it against a file's bounds.
    std::int32_t raw() const { return value_; }

private:
    std::int32_t value_ = 0;
};

// A table stored in an image: the element count, then a reference to the
// first element; the elements lie one after another.
template <class T>
class image_table {
public:
    image_table() = default;
    image_table(const image_table&) = delete;
    image_table& operator=(const image_table&) = delete;

    // Gives the table `n` default-constructed elements taken from `image` in
    // one allocation.  Does nothing when the table already has elements or
    // `n` is 0.
    void resize(std::size_t n, mmf_write& image)
    {
        if (first_ || n == 0)
            return;
        if (n > UINT32_MAX / sizeof(T))
            throw error("Memory overflow %zu", n);
        T* p = static_cast<T*>(image.place(n * sizeof(T)));
        for (std::size_t i = 0; i < n; ++i)
            ::new (static_cast<void*>(p + i)) T();
        first_.set(p);
        count_ = static_cast<std::uint32_t>(n);
    }

    std::uint32_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    T* begin() const { return first_.get(); }
    T* end() const { return first_.get() + count_; }
    T& operator[](std::size_t i) const { return first_.get()[i]; }
    // The reference field, for readers that check it against a file's bounds.
    const image_ref<T>& first() const { return first_; }

private:
    std::uint32_t count_ = 0;
    image_ref<T> first_;
};

static_assert(sizeof(image_ref<int>) == 4);
static_assert(sizeof(image_table<int>) == 8);
static_assert(std::is_standard_layout_v<image_table<int>>);

} // namespace misc

// Placement allocation in an image: `new (image) T(...)` builds a T in newly
// allocated image memory.  Objects in an image are never deleted one by one.
void* operator new(std::size_t size, misc::mmf_write& image);
void* operator new[](std::size_t size, misc::mmf_write& image);
// Called only when a constructor throws; the bytes stay in the image.
void operator delete(void* p, misc::mmf_write& image) noexcept;
void operator delete[](void* p, misc::mmf_write& image) noexcept;
