#pragma once

#include "Types.h"

#include <memory>
#include <string>

class QImage;

namespace fw {

// A decoded image. Shared by reference: callers hold std::shared_ptr<Picture>.
class Picture {
public:
    explicit Picture(const QImage& image);
    ~Picture();

    Integer Width() const;
    Integer Height() const;
    const QImage& image() const { return *m_image; }

private:
    std::unique_ptr<QImage> m_image;
};

using PictureRef = std::shared_ptr<Picture>;

}
