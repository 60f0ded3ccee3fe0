// The automatic way to one bit per pixel: text and line art are thresholded
// exactly as the threshold method does, areas of continuous tone (photos,
// shaded drawings) are dithered. The page is judged in square blocks: a
// block whose pixels are nearly all near black or near white (the two
// peaks of text on paper, with the soft edges of its strokes between) is
// thresholded; any other is dithered by Floyd-Steinberg error diffusion
// that stays inside the dithered blocks, so no error ever reaches a
// thresholded pixel and text keeps its exact edges.
#pragma once

#include <vector>

#include "convert/PageImage.h"

namespace miravo {

// Side of a judged block, in pixels.
inline constexpr int kToneBlock = 32;

// One flag per block, rows of (width + 31) / 32 blocks: true where the
// block is continuous tone.
std::vector<bool> ToneBlocks(GreyView source);

// Grey to bits by the automatic method.
void AutomaticConvert(GreyView source, BitPage& out);

}  // namespace miravo
