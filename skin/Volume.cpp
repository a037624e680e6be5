#include "skin/Volume.h"

#include <limits>

namespace volume {

int FromSliderPosition(int position, bool vertical, int sliderMax) {
    return vertical ? static_cast<int>(static_cast<std::int64_t>(sliderMax) - position) : position;
}

int ToSliderPosition(int volume, bool vertical, int sliderMax) {
    return FromSliderPosition(volume, vertical, sliderMax);
}

int InitialSliderPosition(std::int64_t engineVolume, bool vertical, int sliderMax) {
    if (engineVolume > kMax)
        engineVolume = kMax;
    if (engineVolume < std::numeric_limits<int>::min())
        engineVolume = std::numeric_limits<int>::min();
    return ToSliderPosition(static_cast<int>(engineVolume), vertical, sliderMax);
}

} // namespace volume
