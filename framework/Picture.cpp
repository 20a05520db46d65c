#include "Picture.h"

#include <QImage>

namespace fw {

Picture::Picture(const QImage& image)
    : m_image(std::make_unique<QImage>(image))
{
}

Picture::~Picture() = default;

Integer Picture::Width() const
{
    return m_image->width();
}

Integer Picture::Height() const
{
    return m_image->height();
}

}
