// Errors and read-mapped files shared by the converter and the editor.
#pragma once

#include <cstdint>
#include <type_traits>

namespace misc {

// The exception thrown by the misc code and the file builders.  It owns a
// heap copy of its message, which is null when the message is empty.
class error {
public:
    // Copies `text`; a null or empty text leaves the message null.
    explicit error(const char* text);
    // printf-style: the text is formatted into the one shared buffer of 254
    // characters (longer texts are cut there), then copied.  The buffer is
    // guarded by a lock, so formatting from several threads is safe.
    template <class... Args>
        requires(sizeof...(Args) > 0 && ((std::is_arithmetic_v<Args> || std::is_pointer_v<Args>) && ...))
    error(const char* format, Args... args) : message_(format_text(format, args...))
    {
    }

    error(const error& other);
    error(error&& other) noexcept;
    error& operator=(const error& other);
    error& operator=(error&& other) noexcept;
    ~error();

    // The message, or null when it is empty.
    const char* text() const { return message_; }

    // Longest message the formatting constructor produces.
    static constexpr int buffer_size = 254;

private:
    static char* format_text(const char* format, ...);

    char* message_ = nullptr;
};

// A whole file mapped into memory, read-only or read-write.  Not copyable.
// The mapping follows the file: bytes written through a read-write mapping
// land in the file, and a file shrunk by someone else while mapped faults.
class mmf {
public:
    // Opens `name` at once when it is not null (see `open`).
    explicit mmf(const char* name = nullptr, bool readonly = true);
    ~mmf();
    mmf(const mmf&) = delete;
    mmf& operator=(const mmf&) = delete;

    // Closes what is open, then maps the whole file.  Returns false when that
    // failed; the reason then stands in `last_error()` ("CreateFile() %d",
    // "CreateFileMapping() %d", "MapViewOfFileEx() %d" with errno, or
    // "Unhandled error"), the object is closed and can be opened again.
    // Never throws.  Empty files and files of 4 GiB or more are refused with
    // the "CreateFileMapping() %d" text; directories with "CreateFile() %d".
    bool open(const char* name, bool readonly = true);
    // Unmaps the view and closes the file; harmless when nothing is open.
    void close();

    // The mapped bytes (null when closed) and their count.
    void* data() const { return data_; }
    std::uint32_t size() const { return size_; }
    bool readonly() const { return readonly_; }
    bool is_open() const { return data_ != nullptr; }
    // The reason of the last failed open; its text is null before any failure.
    const error& last_error() const { return last_error_; }

private:
    void remember(const error* failure) noexcept;

    int file_ = -1;
    void* data_ = nullptr;
    std::uint32_t size_ = 0;
    bool readonly_ = true;
    error last_error_{nullptr};
};

} // namespace misc
