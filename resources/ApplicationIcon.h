// The application icon (icon 128) as SVG text, compiled in from
// resources/talvenor.svg, the icon's one source: installers can render it at
// any size, the windows render it at the sizes they show.
#pragma once

#include <string_view>

std::string_view ApplicationIconSvg();
