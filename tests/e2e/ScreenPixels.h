// Pixels of the test displays: painting the agent's screen and counting what the customer's shows.
#pragma once

#include "support/XvfbDisplay.h"

namespace pelio::test {

// Fills a 640 x 480 screen (the agent's) with one colour.
void FillScreen(XvfbDisplay& screen, unsigned long colour);

// How many points of a 32-pixel grid over a 1280 x 800 screen (the customer's) have the colour.
int PointsOf(const XvfbDisplay& screen, unsigned long colour);

}  // namespace pelio::test
