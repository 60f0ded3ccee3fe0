// Grey to bits by the conversion method the user chose: one place that
// knows which kernel each method is, for the conversion and for the
// renderer that converts pages as they are drawn.
#pragma once

#include "app/AppSettings.h"
#include "convert/PageImage.h"

namespace miravo {

void ConvertByMethod(GreyView source, ConversionMethod method, BitPage& out);

}  // namespace miravo
