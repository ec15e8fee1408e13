#include "misc/mmf_write.h"

#include "platform/win32/win32.h"

#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace misc {

namespace {

// Rounds up to a power-of-two multiple; 0 stays 0.
std::size_t round_up(std::size_t size, std::size_t alignment)
{
    return (size + alignment - 1) & ~(alignment - 1);
}

} // namespace

mmf_write::mmf_write(std::uint32_t alignment)
    : page_size_(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))), alignment_(alignment)
{
    assert(alignment != 0 && (alignment & (alignment - 1)) == 0);
}

mmf_write::~mmf_write()
{
    discard();
}

bool mmf_write::open(const char* name, std::size_t reserve)
{
    discard();
    if (reserve > max_reserve)
        reserve = max_reserve;
    void* base = ::mmap(nullptr, reserve == 0 ? page_size_ : reserve, PROT_NONE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    // Under an address-space limit the whole reach may not be had; a smaller
    // reservation still builds what fits in it ("Memory overflow" past it).
    for (std::size_t smaller = reserve / 2; base == MAP_FAILED && errno == ENOMEM && smaller >= (1u << 20);
         smaller /= 2) {
        base = ::mmap(nullptr, smaller, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (base != MAP_FAILED)
            reserve = smaller;
    }
    if (base == MAP_FAILED)
        throw error("VirtualAlloc(MEM_RESERVE) %zu byte - %d", reserve, errno);
    base_ = static_cast<char*>(base);
    name_ = name != nullptr ? name : "";
    prefix_ = nullptr;
    prefix_length_ = 0;
    counters_[0] = counters_[1] = 0;
    counter_ = counters_;
    reserved_ = reserve;
    committed_ = 0;
    used_ = 0;
    return true;
}

bool mmf_write::allocate(std::size_t size, std::uint32_t& offset)
{
    std::size_t aligned = alignment_ == 1 ? size : round_up(size, alignment_);
    if (aligned < size)
        throw error("Memory overflow %zu", reserved_);

    if (side_offset_ != 0 && aligned <= side_bytes_) {
        offset = side_offset_;
        side_offset_ += static_cast<std::uint32_t>(aligned);
        side_bytes_ -= static_cast<std::uint32_t>(aligned);
        return true;
    }

    if (aligned > reserved_ - used_)
        throw error("Memory overflow %zu", reserved_);
    offset = static_cast<std::uint32_t>(used_ + prefix_length_);

    std::size_t end = used_ + aligned;
    if (end > committed_) {
        std::size_t commit = round_up(end, page_size_);
        if (commit > reserved_)
            commit = reserved_;
        if (::mprotect(base_ + committed_, commit - committed_, PROT_READ | PROT_WRITE) != 0)
            throw error("VirtualAlloc() %d", errno);
        committed_ = commit;
    }
    *counter_ += static_cast<std::uint32_t>(aligned);
    used_ = end;
    return true;
}

void* mmf_write::address(std::uint32_t offset) const
{
    if (offset < prefix_length_)
        return static_cast<char*>(prefix_) + offset;
    assert(base_ != nullptr && offset - prefix_length_ <= used_);
    return base_ + (offset - prefix_length_);
}

std::uint32_t mmf_write::offset_of(const void* p) const
{
    const char* c = static_cast<const char*>(p);
    assert(base_ != nullptr && c >= base_ && c <= base_ + used_);
    return static_cast<std::uint32_t>(c - base_) + prefix_length_;
}

void* mmf_write::place(std::size_t size)
{
    std::uint32_t offset = 0;
    allocate(size, offset);
    return address(offset);
}

void mmf_write::close()
{
    if (!is_open())
        return;
    // An empty name is no file: failing here keeps a temporary file out of
    // the working folder and tells the caller nothing was written.
    win32::AtomicFile file;
    if (name_.empty() || !file.open(name_)) {
        int code = name_.empty() ? ENOENT : errno;
        discard();
        throw error("CreateFile() %d", code);
    }
    if (!file.write(base_, used_) || !file.sync()) {
        discard();
        throw "WriteFile(MEM_RESERVE)";
    }
    if (!file.commit()) {
        int code = errno;
        discard();
        throw error("MoveFileEx() %d", code);
    }
    bool released = base_ == nullptr || ::munmap(base_, reserved_ == 0 ? page_size_ : reserved_) == 0;
    base_ = nullptr;
    release();
    if (!released)
        throw "VirtualFree()";
}

void mmf_write::discard() noexcept
{
    if (base_ != nullptr)
        ::munmap(base_, reserved_ == 0 ? page_size_ : reserved_);
    base_ = nullptr;
    release();
}

// Back to the closed state; the reservation is already gone.
void mmf_write::release() noexcept
{
    name_.clear();
    reserved_ = 0;
    committed_ = 0;
    used_ = 0;
}

void mmf_write::set_prefix(void* prefix, std::uint32_t length)
{
    prefix_ = prefix;
    prefix_length_ = length;
}

void mmf_write::set_side_pool(std::uint32_t offset, std::uint32_t bytes)
{
    side_offset_ = offset;
    side_bytes_ = bytes;
}

void mmf_write::select_counter(int which)
{
    counter_ = &counters_[which & 1];
}

} // namespace misc

void* operator new(std::size_t size, misc::mmf_write& image)
{
    return image.place(size);
}

void* operator new[](std::size_t size, misc::mmf_write& image)
{
    return image.place(size);
}

void operator delete(void*, misc::mmf_write&) noexcept {}

void operator delete[](void*, misc::mmf_write&) noexcept {}
