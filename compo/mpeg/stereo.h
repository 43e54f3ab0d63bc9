// Layer III stereo processing and antialias; declared with the other
// Layer III stages.
#pragma once

#include "compo/mpeg/layer3.h"
