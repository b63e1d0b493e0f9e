// NSThread's sleepForTimeInterval:, the loop's only wait.
#pragma once

void sleepForTimeInterval(double seconds);
