// Slider positions and engine volumes (0 to 65535) are one quantity seen from two sides.
#pragma once

#include <cstdint>

namespace volume {

// The loudest volume the engine takes.
inline constexpr int kMax = 65535;

// A horizontal slider's position is the volume (left end silent); a vertical slider is loud at
// the top, so the volume is the slider's maximum minus the position. The rule is its own inverse.
int FromSliderPosition(int position, bool vertical, int sliderMax);
int ToSliderPosition(int volume, bool vertical, int sliderMax);

// A slider's first position from the volume the engine reports; values above the engine's scale
// are taken as the loudest. The slider clamps the result to its range.
int InitialSliderPosition(std::int64_t engineVolume, bool vertical, int sliderMax);

} // namespace volume
