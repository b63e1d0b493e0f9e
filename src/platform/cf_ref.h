// Ownership of a CoreFoundation reference that a Create or Copy call handed out.
#pragma once

#include <memory>
#include <type_traits>

#include "platform/corefoundation.h"

struct CFReleaser {
  void operator()(CFTypeRef ref) const {
    if (ref != nullptr) CFRelease(ref);
  }
};

template <typename Ref>
using CFOwned = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;

template <typename Ref>
CFOwned<Ref> ownCF(Ref ref) {
  return CFOwned<Ref>(ref);
}
