#include "convert/MethodConversion.h"

#include "convert/AutomaticMethod.h"

namespace miravo {

void ConvertByMethod(GreyView source, ConversionMethod method, BitPage& out) {
    switch (method) {
        case ConversionMethod::Dithering:
            Dither(source, out);
            break;
        case ConversionMethod::Automatic:
            AutomaticConvert(source, out);
            break;
        case ConversionMethod::Threshold:
            Threshold(source, out);
            break;
    }
}

}  // namespace miravo
