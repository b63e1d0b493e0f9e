// The model's platform objects and its bookkeeping, shared by the files that
// answer each interface. Not for the probes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/model/coreaudio_names.h"
#include "platform/model/scene.h"

namespace model {

enum class ObjectKind { string, array, applicationElement, windowElement, runningApplication };

struct Object {
  ObjectKind kind = ObjectKind::string;
  std::string text;                    // string
  std::vector<const Object*> members;  // array: owned by the array, borrowed by its readers
  pid_t pid = -1;                      // elements and applications
  Window window;                       // window element: its state when the list was copied
  Application application;             // running application: its state when it was handed out
};

Object stringObject(std::string text);
Object arrayObject(pid_t pid = -1);
Object elementObject(ObjectKind kind, pid_t pid, const Window& window = {});
Object applicationObject(const Application& application);

// A new object owned by the caller, counted until it is released.
const Object* createObject(Object object);
// An array member, borrowed by whoever reads it; pass it in the members of
// the array made next, which then owns it.
const Object* createMember(Object object);
// A constant that is never counted and never released, like a CFSTR literal.
const Object* constantString(const char* text);
// The object behind a reference, or null (with a misuse noted) when it is not live.
const Object* liveObject(const void* ref, const char* usedBy);
void releaseObject(const void* ref);

// Part of reset(): no listener registered, and no wake pending.
void forgetListeners();
void forgetWake();

bool recording();
void record(std::string entry);
void noteMisuse(std::string what);
// How a property call is written in the record: "Call(object, 'selector', 'scope')".
std::string describeCall(const char* call, AudioObjectID object, const AudioObjectPropertyAddress& address);

}  // namespace model
