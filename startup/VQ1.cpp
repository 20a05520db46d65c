#include "VQ1.h"
#include "wStartupDesign.h"
#include "framework/Resources.h"
#include "framework/Screens.h"

#include <cmath>

fw::PictureRef VQ1()
{
    if (!VQ1Cache::initialised) {
        VQ1Cache::initialised = true;
        VQ1Cache::pic.reset();
    }
    if (!VQ1Cache::pic) {
        // Kept for the whole run, so held no larger than the canvas shows it on any screen.
        const double ratio = fw::largestDevicePixelRatio();
        const auto& canvas = wStartupDesign::Canvas1.control;
        VQ1Cache::pic = fw::PictureOpenFromApp(StartPictureFile, static_cast<fw::Integer>(std::ceil(canvas.Width * ratio)),
            static_cast<fw::Integer>(std::ceil(canvas.Height * ratio)));
    }
    return VQ1Cache::pic;
}
