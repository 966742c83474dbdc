// The path as people type and paste it: the blanks and quotes around it, and a drive that an
// elevated program cannot see.
#include "user_path.h"

#include <gtest/gtest.h>

#include <set>

#include "file_commands.h"
#include "target_file_test.h"
#include "temp_folder.h"

namespace quorvik {
namespace {

using std::filesystem::path;

TEST(PathAsEntered, TakesAwayTheBlanksAndOnePairOfQuotesAroundThePathAndNothingElse) {
  const struct {
    path typed;
    path meant;
  } cases[] = {
      {"\"C:\\Programmi\\Quorvik\\Quorvik.exe\"", "C:\\Programmi\\Quorvik\\Quorvik.exe"},
      {"  \t\"C:\\Quorvik 2000\\Quorvik.exe\"  ", "C:\\Quorvik 2000\\Quorvik.exe"},
      {"   C:\\Quorvik.exe\t", "C:\\Quorvik.exe"},
      {"\"\"", ""},
      {"   ", ""},
      {"", ""},
      // Anything else is not how paths are quoted: it is kept, for the path test to judge.
      {"\"C:\\Quorvik.exe", "\"C:\\Quorvik.exe"},
      {"C:\\Quorvik.exe\"", "C:\\Quorvik.exe\""},
      {"\"", "\""},
      {"\"\"C:\\Quorvik.exe\"\"", "\"C:\\Quorvik.exe\""},
      {"C:\\\"Quorvik\".exe", "C:\\\"Quorvik\".exe"},
      {"\" C:\\Quorvik.exe \"", " C:\\Quorvik.exe "},
  };
  for (const auto& [typed, meant] : cases) {
    EXPECT_EQ(PathAsEntered(typed).native(), meant.native()) << typed;
  }
}

path InQuotes(const path& inside) {
  path quoted = "\"";
  quoted += inside;
  quoted += "\"";
  return quoted;
}

using EnteredPathTest = testing::TargetFileTest;

TEST_F(EnteredPathTest, AQuotedPathIsPatchedAndAnythingInvalidStillCreatesNothing) {
  testing::WriteBytes(target_, english_);
  path pasted = "  ";
  pasted += InQuotes(target_);
  EXPECT_EQ(PatchRun(pasted), PatchOutcome::InvalidPath) << "the path as typed";
  EXPECT_EQ(PatchRun(PathAsEntered(pasted)), PatchOutcome::Completed);
  EXPECT_EQ(testing::ReadBytes(target_), italian_);

  for (const path& typed :
       {path("\"\""), path("  "), InQuotes(folder_.path()), InQuotes(folder_ / "Missing.exe")}) {
    EXPECT_EQ(PatchRun(PathAsEntered(typed)), PatchOutcome::InvalidPath) << typed;
  }
  EXPECT_EQ(folder_.Entries(), std::vector<path>{"Quorvik.exe"});
}

// A session with the drives and the elevation a test gives it.
class GivenSession final : public SessionView {
 public:
  GivenSession(std::set<char> drives, bool elevated)
      : drives_(std::move(drives)), elevated_(elevated) {}
  bool HasDrive(char letter) override { return drives_.contains(letter); }
  bool IsElevated() override { return elevated_; }

 private:
  std::set<char> drives_;
  bool elevated_;
};

TEST(DriveUnseenWhenElevated, NamesAMissingDriveOnlyWhenTheProcessIsElevated) {
  GivenSession elevated({'C'}, true);
  EXPECT_EQ(DriveUnseenWhenElevated("Z:\\Quorvik\\Quorvik.exe", elevated), 'Z');
  EXPECT_EQ(DriveUnseenWhenElevated("z:\\Quorvik\\Quorvik.exe", elevated), 'Z');
  EXPECT_EQ(DriveUnseenWhenElevated("z:Quorvik.exe", elevated), 'Z');

  GivenSession normal({'C'}, false);
  EXPECT_EQ(DriveUnseenWhenElevated("Z:\\Quorvik\\Quorvik.exe", normal), std::nullopt);
}

TEST(DriveUnseenWhenElevated, SaysNothingOfDrivesThatExistOrPathsWithoutADrive) {
  GivenSession elevated({'C', 'Z'}, true);
  for (const path& named :
       {path("C:\\Quorvik.exe"), path("z:\\Quorvik.exe"), path("\\\\server\\share\\Quorvik.exe"),
        path("Quorvik.exe"), path("1:\\Quorvik.exe"), path("\\\\?\\Q:\\Quorvik.exe"), path("Q"),
        path("")}) {
    EXPECT_EQ(DriveUnseenWhenElevated(named, elevated), std::nullopt) << named;
  }
}

}  // namespace
}  // namespace quorvik
