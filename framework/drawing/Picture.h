#pragma once

#include "../base/Types.h"

#include <memory>
#include <string>

class QImage;

namespace fw {

// A decoded image. Shared by reference: callers hold std::shared_ptr<Picture>.
class Picture {
public:
    explicit Picture(const QImage& image);
    // An image decoded smaller than its file: Width and Height still give the file's size,
    // the size drawing measures source rectangles in.
    Picture(const QImage& image, Integer fileWidth, Integer fileHeight);
    ~Picture();

    Integer Width() const;
    Integer Height() const;
    const QImage& image() const { return *m_image; }

private:
    std::unique_ptr<QImage> m_image;
    Integer m_width, m_height;
};

using PictureRef = std::shared_ptr<Picture>;

}
