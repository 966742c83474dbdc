#pragma once

// Windows only.
#include <map>
#include <string>

#include "win32_support.h"

namespace quorvik::testing {

// The functions newer than Windows XP as a test gives them: none (as on Windows XP) or the
// system's, either with the stand-ins given in place of those named.
class GivenNewerFunctions final : public NewerSystemFunctions {
 public:
  explicit GivenNewerFunctions(bool systemOnes, std::map<std::string, void*> standIns = {})
      : systemOnes_(systemOnes), standIns_(std::move(standIns)) {}

  void* Find(const wchar_t* dll, const char* name) override {
    if (const auto standIn = standIns_.find(name); standIn != standIns_.end()) {
      return standIn->second;
    }
    return systemOnes_ ? SystemNewerFunctions().Find(dll, name) : nullptr;
  }

 private:
  bool systemOnes_;
  std::map<std::string, void*> standIns_;
};

}  // namespace quorvik::testing
