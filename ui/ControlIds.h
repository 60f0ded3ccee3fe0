// Control ids that code finds controls by (every control's objectName is
// "id<N>" in the .ui files); the status window's labels are named with the
// send worker that writes them.
#pragma once

namespace miravo::ui::controlid {

inline constexpr int kHeaderStrip = 1008;  // the logo strip of every main dialog
inline constexpr int kProgressBar = 1013;  // the bar a worker drives
inline constexpr int kChooseDocument = 1201;  // the send dialog's document button

}  // namespace miravo::ui::controlid
