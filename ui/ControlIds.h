// The control ids, as the dialogs name them.
#pragma once

#include "app/ControlIds.h"

namespace miravo::ui {
namespace controlid = ::miravo::controlid;
}  // namespace miravo::ui
