// The job's options as the print system hands them to the backend (its
// fifth argument): "name=value" words separated by spaces, a value quoted
// with ' or " or holding \-escaped characters, and plain names for true
// ("landscape"). The options that change which pages come out and how are
// the backend's to honour or to decline: a raw PDF reaches it unfiltered.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace miravo::backend {

// The value of option `name`, unquoted ("" for a plain name); nothing when
// the job does not set it. The last setting counts.
std::optional<std::string> JobOption(std::string_view options, std::string_view name);

// The options a fax does not honour that would change the printed pages
// (several pages on a sheet, turning, scaling, odd or even pages only), each as "name=value" for
// the job's log; copies are reported on their own.
std::vector<std::string> IgnoredPageOptions(std::string_view options);

}  // namespace miravo::backend
