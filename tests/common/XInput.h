// Real input for C++ tests: the page host's helpers (pointer, buttons, keys through the X
// server), in screen pixels.
#pragma once

#include "tools/host/XInput.h"

namespace XInput = Host::XInput;
