#include "VQ1.h"
#include "Resources.h"

fw::PictureRef VQ1()
{
    if (!VQ1Cache::initialised) {
        VQ1Cache::initialised = true;
        VQ1Cache::pic.reset();
    }
    if (!VQ1Cache::pic)
        VQ1Cache::pic = fw::PictureOpenFromApp(StartPictureFile);
    return VQ1Cache::pic;
}
