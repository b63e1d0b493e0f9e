// One whole cycle of the monitor over a scene, and everything that must hold
// of it whatever the scene: one line, strict JSON, valid UTF-8, micInUse and
// the holders as the scene implies, and the model's accounting clean.
#pragma once

#include <string>

#include "platform/model/scene.h"

// Empty when every check holds, else what failed.
std::string checkOneCycle(const model::Scene& scene);

// What the scene implies, worked out from the scene alone.
std::size_t expectedHolderCount(const model::Scene& scene);
bool expectedInputRunning(const model::Scene& scene);
