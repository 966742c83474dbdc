#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "process.h"
#include "sample_target.h"
#include "temp_folder.h"

namespace quorvik::testing {

// The window's own words for the outcomes, which the companion prints as they are.
inline constexpr std::string_view kCompletedText = "Update is complete!";
inline constexpr std::string_view kCannotUpdateText =
    "Can not update now.  Program has already been updated or File Path is invalid.";
inline constexpr std::string_view kInvalidPathText =
    "File Path is Invalid.  Enter correct path and try again.";

// A name that no single-byte code page can hold.
inline const std::filesystem::path kNonAsciiName(u8"Quorvik-àèìòù-日本語.exe");

// Drives the built quorvik-patch program in a fresh folder of its own.
class CompanionTest : public ::testing::Test {
 protected:
  ProcessResult Run(std::initializer_list<std::filesystem::path> arguments) const;
  std::filesystem::path WriteTarget(const Bytes& bytes,
                                    const std::filesystem::path& name = "Quorvik.exe") const;

  TempFolder folder_;
};

// Sample program files: as the product ships, as a patch leaves it, and one lacking pair 5.
Bytes EnglishSample(const tools::SampleLayout& layout = {});
Bytes UpdatedSample(const tools::SampleLayout& layout = {});
Bytes ForeignSample();

std::vector<std::string> Lines(const std::string& text);

}  // namespace quorvik::testing
