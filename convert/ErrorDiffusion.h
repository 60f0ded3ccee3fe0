// Floyd-Steinberg error diffusion (left to right, 7/16 to the right, 3/16,
// 5/16 and 1/16 to the row below), the one kernel behind the dithering
// method and the photo blocks of the automatic method.
#pragma once

#include <vector>

#include "convert/PageImage.h"

namespace miravo {

// Dithers `source` into `out` (already of its size). With `blocks` empty
// every row is dithered whole; otherwise `blocks` holds one flag per square
// block of side `blockSide` (rows of (width + blockSide - 1) / blockSide
// blocks) and only the runs of flagged blocks are dithered, each run on its
// own, the error never leaving it. Pixels outside the runs are left as they
// are. `blockSide` is a multiple of 8, so that every run starts on a byte.
void DiffuseErrors(GreyView source, BitPage& out, const std::vector<bool>& blocks = {},
                   int blockSide = 32);

}  // namespace miravo
