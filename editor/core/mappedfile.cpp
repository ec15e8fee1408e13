#include "editor/core/mappedfile.h"

#include <QFile>

#include "misc/misc.h"

namespace atlasdesk {

struct MappedFile::Impl {
    misc::mmf map;
};

MappedFile::MappedFile() : m_impl(std::make_unique<Impl>()) {}
MappedFile::~MappedFile() = default;

bool MappedFile::open(const QString& path)
{
    return m_impl->map.open(QFile::encodeName(path).constData(), true);
}

const char* MappedFile::data() const
{
    return static_cast<const char*>(m_impl->map.data());
}

std::size_t MappedFile::size() const
{
    return m_impl->map.size();
}

QString MappedFile::lastError() const
{
    const char* text = m_impl->map.last_error().text();
    return text ? QString::fromLocal8Bit(text) : QString();
}

} // namespace atlasdesk
