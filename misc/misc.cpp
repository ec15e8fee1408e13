#include "misc/misc.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace misc {

namespace {

char* duplicate(const char* text)
{
    if (text == nullptr || text[0] == '\0')
        return nullptr;
    std::size_t n = std::strlen(text) + 1;
    char* copy = new char[n];
    std::memcpy(copy, text, n);
    return copy;
}

// The formatting buffer is shared; the lock keeps texts formatted on
// different threads from mixing.
std::mutex format_lock;
char format_buffer[error::buffer_size + 1];

} // namespace

error::error(const char* text) : message_(duplicate(text)) {}

char* error::format_text(const char* format, ...)
{
    std::lock_guard<std::mutex> hold(format_lock);
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(format_buffer, sizeof format_buffer, format, args);
    va_end(args);
    if (n < 0)
        format_buffer[0] = '\0';
    return duplicate(format_buffer);
}

error::error(const error& other) : message_(duplicate(other.message_)) {}

error::error(error&& other) noexcept : message_(other.message_)
{
    other.message_ = nullptr;
}

error& error::operator=(const error& other)
{
    if (this != &other) {
        char* copy = duplicate(other.message_);
        delete[] message_;
        message_ = copy;
    }
    return *this;
}

error& error::operator=(error&& other) noexcept
{
    if (this != &other) {
        delete[] message_;
        message_ = other.message_;
        other.message_ = nullptr;
    }
    return *this;
}

error::~error()
{
    delete[] message_;
}

// Keeps the reason of a failed open; `open` itself must not throw, so a
// failure to copy the text leaves the generic one.
void mmf::remember(const error* failure) noexcept
{
    try {
        last_error_ = failure != nullptr && failure->text() != nullptr ? *failure : error("Unhandled error");
    } catch (...) {
        last_error_ = error(nullptr);
    }
}

mmf::mmf(const char* name, bool readonly) : readonly_(readonly)
{
    if (name != nullptr)
        open(name, readonly);
}

mmf::~mmf()
{
    close();
}

bool mmf::open(const char* name, bool readonly)
{
    close();
    if (name == nullptr)
        return false;
    readonly_ = readonly;
    try {
        // O_NONBLOCK keeps a FIFO from stalling the open; it is refused below.
        file_ = ::open(name, (readonly ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (file_ < 0)
            throw error("CreateFile() %d", errno);
        struct stat st;
        if (::fstat(file_, &st) != 0)
            throw error("CreateFileMapping() %d", errno);
        if (S_ISDIR(st.st_mode))
            throw error("CreateFile() %d", EISDIR);
        if (!S_ISREG(st.st_mode))
            throw error("CreateFileMapping() %d", ENODEV);
        // An empty file cannot be mapped; neither can one whose size does
        // not fit the 32-bit size field.
        if (st.st_size == 0)
            throw error("CreateFileMapping() %d", EINVAL);
        if (static_cast<std::uint64_t>(st.st_size) > UINT32_MAX)
            throw error("CreateFileMapping() %d", EFBIG);
        size_ = static_cast<std::uint32_t>(st.st_size);
        void* view = ::mmap(nullptr, size_, readonly ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, file_, 0);
        if (view == MAP_FAILED)
            throw error("MapViewOfFileEx() %d", errno);
        data_ = view;
        return true;
    } catch (const error& e) {
        remember(&e);
    } catch (...) {
        remember(nullptr);
    }
    close();
    return false;
}

void mmf::close()
{
    if (data_ != nullptr)
        ::munmap(data_, size_);
    if (file_ >= 0)
        ::close(file_);
    file_ = -1;
    data_ = nullptr;
    size_ = 0;
}

} // namespace misc
