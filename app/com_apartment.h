#pragma once

#include <objbase.h>

namespace quorvik {

// COM for this thread while the window lives: file-name completion in the path box needs it.
class ComApartment {
 public:
  ComApartment() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialised_) CoUninitialize();
  }

 private:
  bool initialised_;
};

}  // namespace quorvik
