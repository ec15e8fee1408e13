// A whole file mapped for reading, on the shared misc::mmf.
#pragma once

#include <QString>
#include <cstddef>
#include <memory>

namespace atlasdesk {

class MappedFile {
public:
    MappedFile();
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False when the file cannot be mapped; the reason is in lastError().
    bool open(const QString& path);
    const char* data() const;
    std::size_t size() const;
    QString lastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace atlasdesk
