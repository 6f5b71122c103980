#pragma once

// The look the backend asks its toolkit to paint a window with: the light or the dark one.

namespace tovalo {

enum class Appearance { light, dark };

}  // namespace tovalo
