// The language text ids, as the dialogs name them.
#pragma once

#include "app/TextIds.h"

namespace miravo::ui {
namespace text = ::miravo::text;
}  // namespace miravo::ui
