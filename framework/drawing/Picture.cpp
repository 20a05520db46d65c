#include "Picture.h"

#include <QImage>

namespace fw {

Picture::Picture(const QImage& image)
    : Picture(image, image.width(), image.height())
{
}

Picture::Picture(const QImage& image, Integer fileWidth, Integer fileHeight)
    : m_image(std::make_unique<QImage>(image))
    , m_width(fileWidth)
    , m_height(fileHeight)
{
}

Picture::~Picture() = default;

Integer Picture::Width() const
{
    return m_width;
}

Integer Picture::Height() const
{
    return m_height;
}

}
