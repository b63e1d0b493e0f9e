// Whether any audio device with input channels is running, for any process.
#pragma once

bool anyInputRunning();
