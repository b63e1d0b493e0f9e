// One COM interface pointer, released when it goes.
#pragma once

#include <unknwn.h>

namespace windows_source {

template <typename Interface>
class ComReference {
 public:
  ComReference() = default;
  ~ComReference() { reset(); }
  ComReference(const ComReference&) = delete;
  ComReference& operator=(const ComReference&) = delete;

  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // Where a call writes the interface it hands out.
  Interface** put() {
    reset();
    return &pointer_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

 private:
  void reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }
  Interface* pointer_ = nullptr;
};

}  // namespace windows_source
