// Nothing autoreleases off Apple: the pool only marks where it begins and
// ends in the record, so a test sees which calls fall inside it.
#include "platform/autorelease_pool.h"

#include "platform/model/objects.h"

void insideAutoreleasePool(const std::function<void()>& work) {
  if (model::recording()) model::record("autoreleasePoolPush");
  work();
  if (model::recording()) model::record("autoreleasePoolPop");
}
