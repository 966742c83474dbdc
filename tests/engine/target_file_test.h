#pragma once

#include <gtest/gtest.h>

#include "bytes.h"
#include "sample_target.h"
#include "temp_folder.h"

namespace quorvik::testing {

// A test with a made-up program file's English and patched bytes, and a fresh folder to put it.
class TargetFileTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  const std::filesystem::path target_ = folder_ / "Quorvik.exe";
  const Bytes english_ = tools::MakeSampleTarget({});
  const Bytes italian_ = tools::MakeSampleTarget({}, tools::SampleLanguage::ItalianFirstRound);
};

}  // namespace quorvik::testing
