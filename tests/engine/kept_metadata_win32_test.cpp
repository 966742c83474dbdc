// What the new file keeps of the old one on Windows. Wine keeps no access list of a file's own,
// no streams, compression, encryption or short names, so these tests put recording calls in the
// place of the system's: they check what the rewrite asks the system to set, on which file and
// when, against what it read from the old file, and what it does when the system refuses.
#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "file_commands.h"
#include "file_error.h"
#include "file_metadata_win32.h"
#include "file_ops_win32.h"
#include "observed_file_ops.h"
#include "platform.h"
#include "target_file_test.h"
#include "temp_folder.h"

namespace quorvik {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

std::uint64_t IndexOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return 0;
  return (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
}

std::uint64_t IndexOf(const std::filesystem::path& path) {
  HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  const std::uint64_t index = IndexOf(file);
  CloseHandle(file);
  return index;
}

std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return L"";
  std::wstring result(text);
  LocalFree(text);
  return result;
}

std::wstring DescriptorText(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION parts) {
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts,
                                                            &text, nullptr)) {
    return L"";
  }
  std::wstring result(text);
  LocalFree(text);
  return result;
}

// An access list as SDDL, without the flags of a descriptor around it: "D:(A;;FA;;;BA)"; "none"
// for none at all (which lets everyone do anything).
std::wstring DaclText(PACL dacl) {
  if (dacl == nullptr) return L"none";
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
  return DescriptorText(&descriptor, DACL_SECURITY_INFORMATION);
}

// A self-relative security descriptor, as the system reads one from a file.
std::vector<std::uint8_t> SecurityFrom(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ULONG size = 0;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                            &size)) {
    ADD_FAILURE() << "not a security descriptor";
    return {};
  }
  const auto* bytes = static_cast<const std::uint8_t*>(descriptor);
  std::vector<std::uint8_t> security(bytes, bytes + size);
  LocalFree(descriptor);
  return security;
}

// Owned by the administrators, with no access list at all, which lets everyone do anything. (Not
// from SDDL: Wine reads "D:NO_ACCESS_CONTROL" as an empty list, which lets no one do anything.)
std::vector<std::uint8_t> SecurityWithoutAccessList() {
  std::vector<std::uint8_t> ownerAndGroup = SecurityFrom(L"O:BAG:SY");
  PSID owner = nullptr;
  PSID group = nullptr;
  BOOL defaulted = FALSE;
  SECURITY_DESCRIPTOR absolute;
  DWORD size = 0;
  if (!GetSecurityDescriptorOwner(ownerAndGroup.data(), &owner, &defaulted) ||
      !GetSecurityDescriptorGroup(ownerAndGroup.data(), &group, &defaulted) ||
      !InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&absolute, owner, FALSE) ||
      !SetSecurityDescriptorGroup(&absolute, group, FALSE) ||
      !SetSecurityDescriptorDacl(&absolute, TRUE, nullptr, FALSE)) {
    ADD_FAILURE() << "could not make the security descriptor";
    return {};
  }
  MakeSelfRelativeSD(&absolute, nullptr, &size);
  std::vector<std::uint8_t> security(size);
  if (!MakeSelfRelativeSD(&absolute, security.data(), &size)) ADD_FAILURE() << "no descriptor";
  return security;
}

bool RestorePrivilegeEnabled() {
  HANDLE token = nullptr;
  LUID restore{};
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  BOOL enabled = FALSE;
  if (LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &restore)) {
    PRIVILEGE_SET wanted{.PrivilegeCount = 1, .Control = PRIVILEGE_SET_ALL_NECESSARY};
    wanted.Privilege[0].Luid = restore;
    if (!PrivilegeCheck(token, &wanted, &enabled)) enabled = FALSE;
  }
  CloseHandle(token);
  return enabled;
}

struct SecuritySet {
  std::uint64_t file;     // the index of the file it was set on
  bool restorePrivilege;  // whether it was enabled then
  SECURITY_INFORMATION parts;
  std::wstring owner;
  std::wstring group;
  std::wstring dacl;
};

// The one owner, one group and one access-list set of a rewrite.
struct OneSetEach {
  SecuritySet owner;
  SecuritySet group;
  SecuritySet dacl;
};

// The system's own calls, recorded; where a test says so, answering instead as a volume that
// keeps everything (NTFS) would, or refusing.
class RecordingCalls final : public MetadataCalls {
 public:
  // Changes what the system read from the old file.
  std::function<void(KeptMetadata&)> changeRead = [](KeptMetadata&) {};
  // Sets are passed to the system only where this is true; Wine cannot show their effect, and
  // made-up owners and access lists would lock the test out of its own files.
  bool passSetsOn = false;
  // As an NTFS volume with EFS: a file created encrypted is encrypted.
  bool encryptsWhenAsked = false;
  // As a compressed folder: new files are compressed.
  bool compressesNewFiles = false;
  std::function<DWORD(SECURITY_INFORMATION)> securityAnswer = [](SECURITY_INFORMATION) {
    return DWORD{ERROR_SUCCESS};
  };
  // The security the system gives the new file; the system's own where empty.
  std::vector<std::uint8_t> newFileSecurity;
  DWORD createAnswer = ERROR_SUCCESS;
  DWORD shortNameAnswer = ERROR_SUCCESS;
  std::function<void()> streamCopy = [] {};

  std::vector<KeptMetadata> reads;
  std::vector<std::vector<std::uint8_t>> newFileSecurities;
  std::vector<DWORD> creations;
  struct Compression {
    USHORT format;
    LONGLONG sizeThen;
  };
  std::vector<Compression> compressions;
  std::vector<SecuritySet> securities;
  std::vector<std::pair<std::filesystem::path, std::filesystem::path>> streams;
  struct ShortName {
    std::uint64_t file;
    bool restorePrivilege;
    std::wstring name;
  };
  std::vector<ShortName> shortNames;
  // The files' indexes and what was set on each.
  std::vector<std::pair<std::uint64_t, ULONGLONG>> creationTimes;
  std::vector<std::pair<std::uint64_t, DWORD>> attributeSets;

  KeptMetadata Read(HANDLE handle, const std::filesystem::path& file) override {
    KeptMetadata kept = real_.Read(handle, file);
    changeRead(kept);
    reads.push_back(kept);
    return kept;
  }

  NativeFile CreateNew(const std::wstring& name, DWORD attributes) override {
    creations.push_back(attributes);
    if (createAnswer != ERROR_SUCCESS) {
      SetLastError(createAnswer);
      return {};
    }
    NativeFile file = real_.CreateNew(name, attributes);
    if (file && (attributes & FILE_ATTRIBUTE_ENCRYPTED)) encrypted_.push_back(IndexOf(file.get()));
    return file;
  }

  DWORD Attributes(HANDLE file) override {
    DWORD attributes = real_.Attributes(file);
    if (compressesNewFiles) attributes |= FILE_ATTRIBUTE_COMPRESSED;
    if (encryptsWhenAsked && std::ranges::count(encrypted_, IndexOf(file)) > 0) {
      attributes |= FILE_ATTRIBUTE_ENCRYPTED;
    }
    return attributes;
  }

  DWORD Security(HANDLE file, std::vector<std::uint8_t>& security) override {
    const DWORD error =
        newFileSecurity.empty() ? real_.Security(file, security) : (security = newFileSecurity, 0);
    newFileSecurities.push_back(security);
    return error;
  }

  DWORD SetCompression(HANDLE file, USHORT format) override {
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    compressions.push_back({format, size.QuadPart});
    return passSetsOn ? real_.SetCompression(file, format) : ERROR_SUCCESS;
  }

  DWORD SetSecurity(HANDLE file, SECURITY_INFORMATION parts, PSID owner, PSID group,
                    PACL dacl) override {
    securities.push_back({IndexOf(file), RestorePrivilegeEnabled(), parts, SidText(owner),
                          SidText(group),
                          (parts & DACL_SECURITY_INFORMATION) ? DaclText(dacl) : L""});
    if (const DWORD answer = securityAnswer(parts); answer != ERROR_SUCCESS) return answer;
    return passSetsOn ? real_.SetSecurity(file, parts, owner, group, dacl) : ERROR_SUCCESS;
  }

  DWORD SetShortName(HANDLE file, const std::wstring& name) override {
    // Never passed on: Wine has no SetFileShortNameW and ends a process that calls it.
    shortNames.push_back({IndexOf(file), RestorePrivilegeEnabled(), name});
    return shortNameAnswer;
  }

  DWORD SetCreationTime(HANDLE file, const FILETIME& created) override {
    creationTimes.emplace_back(IndexOf(file),
                               (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime);
    return real_.SetCreationTime(file, created);
  }

  DWORD SetAttributes(const std::wstring& name, DWORD attributes) override {
    attributeSets.emplace_back(IndexOf(std::filesystem::path(name)), attributes);
    return real_.SetAttributes(name, attributes);
  }

  void CopyStream(const std::filesystem::path& from, const std::filesystem::path& to,
                  FileOps&) override {
    streams.emplace_back(from, to);
    streamCopy();
  }

  // The security sets of one kind.
  std::vector<SecuritySet> SecuritySets(SECURITY_INFORMATION part) const {
    std::vector<SecuritySet> found;
    for (const SecuritySet& set : securities) {
      if (set.parts & part) found.push_back(set);
    }
    return found;
  }

  // The owner, group and access-list sets, each of which must have been made exactly once; wrap a
  // call in ASSERT_NO_FATAL_FAILURE, since it leaves `each` as it was when one was not.
  void OneSetOfEachKind(OneSetEach& each) const {
    const auto owners = SecuritySets(OWNER_SECURITY_INFORMATION);
    const auto groups = SecuritySets(GROUP_SECURITY_INFORMATION);
    const auto dacls = SecuritySets(DACL_SECURITY_INFORMATION);
    ASSERT_EQ(owners.size(), 1u);
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(dacls.size(), 1u);
    each = {owners[0], groups[0], dacls[0]};
  }

 private:
  MetadataCalls& real_ = SystemMetadataCalls();
  std::vector<std::uint64_t> encrypted_;
};

constexpr wchar_t kNewFileSecurity[] =
    L"O:S-1-5-21-1-2-3-1001G:S-1-5-21-1-2-3-513D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;"
    L"BU)";

// Owner, group and access list of a self-relative security descriptor, as text.
struct SecurityText {
  explicit SecurityText(const std::vector<std::uint8_t>& security) {
    auto* descriptor = const_cast<std::uint8_t*>(security.data());
    PSID ownerSid = nullptr;
    PSID groupSid = nullptr;
    PACL list = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    EXPECT_TRUE(GetSecurityDescriptorOwner(descriptor, &ownerSid, &defaulted) &&
                GetSecurityDescriptorGroup(descriptor, &groupSid, &defaulted) &&
                GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) && present);
    owner = SidText(ownerSid);
    group = SidText(groupSid);
    dacl = DaclText(list);
  }
  std::wstring owner;
  std::wstring group;
  std::wstring dacl;
};

class KeptMetadataTest : public testing::TargetFileTest {
 protected:
  void SetUp() override { WriteBytes(target_, english_); }

  // The old file as a volume that keeps everything would show it, and the new file as the system
  // makes a user's in a program's folder: the user's, its access list wholly the folder's.
  void ReadAs(std::function<void(KeptMetadata&)> change) {
    calls_.newFileSecurity = SecurityFrom(kNewFileSecurity);
    calls_.changeRead = [change](KeptMetadata& kept) {
      kept.volumeFlags |= FILE_PERSISTENT_ACLS | FILE_NAMED_STREAMS | FILE_FILE_COMPRESSION |
                          FILE_SUPPORTS_ENCRYPTION;
      change(kept);
    };
  }

  void ExpectUnchanged() {
    EXPECT_EQ(ReadBytes(target_), english_);
    EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
  }

  RecordingCalls calls_;
  std::unique_ptr<FileOps> ops_ = Win32FileOpsWith(calls_, SystemNewerFunctions());
};

TEST_F(KeptMetadataTest, GivesTheNewFileTheOwnerGroupAndAccessListReadFromTheOld) {
  // The old file's as Wine reads them (it gives every file the same), the new file's as Windows
  // would make them, so that each differs; the sets are passed on to Wine.
  calls_.newFileSecurity = SecurityFrom(kNewFileSecurity);
  calls_.passSetsOn = true;
  // Held by an administrator's process, as by Wine's, but disabled until needed.
  ASSERT_FALSE(RestorePrivilegeEnabled());
  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target_), italian_);

  ASSERT_EQ(calls_.reads.size(), 1u);
  ASSERT_NE(calls_.reads[0].volumeFlags & FILE_PERSISTENT_ACLS, 0u) << "the volume keeps none";
  const SecurityText old(calls_.reads[0].security);
  const SecurityText made(calls_.newFileSecurity);
  ASSERT_NE(old.owner, made.owner);
  ASSERT_NE(old.group, made.group);
  ASSERT_NE(old.dacl, made.dacl);

  // Each once, to the old file's, on the file that now has the name.
  OneSetEach set;
  ASSERT_NO_FATAL_FAILURE(calls_.OneSetOfEachKind(set));
  EXPECT_EQ(set.owner.owner, old.owner);
  EXPECT_EQ(set.group.group, old.group);
  EXPECT_EQ(set.dacl.dacl, old.dacl);
  EXPECT_EQ(set.dacl.parts & PROTECTED_DACL_SECURITY_INFORMATION, 0u);
  for (const SecuritySet& each : calls_.securities) EXPECT_EQ(each.file, IndexOf(target_));
  // Enabled to give any owner and group, and only while they are given.
  EXPECT_TRUE(set.owner.restorePrivilege);
  EXPECT_TRUE(set.group.restorePrivilege);
  EXPECT_FALSE(set.dacl.restorePrivilege);
  EXPECT_FALSE(RestorePrivilegeEnabled());
}

TEST_F(KeptMetadataTest, KeepsAProtectedAccessListWholeAndOfAnInheritingOneItsOwnEntries) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> read;
    SECURITY_INFORMATION inheritance;
    const wchar_t* given;
  };
  for (const Case& test : {
           // Set apart from its folder's permissions, as an administrator may lock a program.
           Case{"protected", SecurityFrom(L"O:BAG:SYD:PAI(A;;FA;;;BA)(A;;0x1200a9;;;BU)"),
                PROTECTED_DACL_SECURITY_INFORMATION, L"D:(A;;FA;;;BA)(A;;0x1200a9;;;BU)"},
           // One entry of its own and one from its folder, which the new file gets from the
           // same folder.
           Case{"inheriting", SecurityFrom(L"O:BAG:SYD:AI(A;;FA;;;BA)(A;ID;0x1200a9;;;BU)"),
                UNPROTECTED_DACL_SECURITY_INFORMATION, L"D:(A;;FA;;;BA)"},
           Case{"no access list", SecurityWithoutAccessList(),
                UNPROTECTED_DACL_SECURITY_INFORMATION, L"none"},
       }) {
    SCOPED_TRACE(test.what);
    WriteBytes(target_, english_);
    calls_.securities.clear();
    ReadAs([&](KeptMetadata& kept) { kept.security = test.read; });
    EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);

    OneSetEach set;
    ASSERT_NO_FATAL_FAILURE(calls_.OneSetOfEachKind(set));
    EXPECT_EQ(set.owner.owner, L"S-1-5-32-544");
    EXPECT_EQ(set.group.group, L"S-1-5-18");
    EXPECT_EQ(set.dacl.parts &
                  (PROTECTED_DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION),
              test.inheritance);
    EXPECT_EQ(set.dacl.dacl, test.given);
  }

  // Where the new file already has it all, as usual, nothing is set.
  WriteBytes(target_, english_);
  calls_.securities.clear();
  ReadAs([](KeptMetadata& kept) { kept.security = SecurityFrom(kNewFileSecurity); });
  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);
  EXPECT_TRUE(calls_.securities.empty());
}

TEST_F(KeptMetadataTest, AnOwnerOrGroupItMayNotGiveIsLeftAndTheRestKept) {
  ReadAs(
      [](KeptMetadata& kept) { kept.security = SecurityFrom(L"O:S-1-5-80-1G:SYD:P(A;;FA;;;BA)"); });
  calls_.securityAnswer = [](SECURITY_INFORMATION parts) -> DWORD {
    if (parts & OWNER_SECURITY_INFORMATION) return ERROR_INVALID_OWNER;
    if (parts & GROUP_SECURITY_INFORMATION) return ERROR_INVALID_PRIMARY_GROUP;
    return ERROR_SUCCESS;
  };
  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target_), italian_);
  ASSERT_EQ(calls_.SecuritySets(DACL_SECURITY_INFORMATION).size(), 1u);
  EXPECT_EQ(calls_.SecuritySets(DACL_SECURITY_INFORMATION)[0].dacl, L"D:(A;;FA;;;BA)");
}

TEST_F(KeptMetadataTest, AnAccessListThatCannotBeGivenLeavesTheFileAsItWas) {
  ReadAs([](KeptMetadata& kept) { kept.security = SecurityFrom(L"O:BAG:SYD:P(A;;FA;;;BA)"); });
  calls_.securityAnswer = [](SECURITY_INFORMATION parts) -> DWORD {
    return (parts & DACL_SECURITY_INFORMATION) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
  };
  try {
    PatchRun(target_, *ops_);
    ADD_FAILURE() << "the file was replaced without its access list";
  } catch (const FileError& error) {
    EXPECT_EQ(error.operation(), "Could not set the permissions of the temporary file");
  }
  ExpectUnchanged();
}

TEST_F(KeptMetadataTest, CopiesEveryStreamBeforeTheNewFileTakesTheName) {
  ReadAs([](KeptMetadata& kept) {
    kept.streams = {L":Zone.Identifier:$DATA", L":Quorvik.notes:$DATA"};
  });
  std::vector<bool> targetStillOld;
  calls_.streamCopy = [&] { targetStillOld.push_back(ReadBytes(target_) == english_); };
  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);

  ASSERT_EQ(calls_.streams.size(), 2u);
  std::filesystem::path copy;
  for (std::size_t i = 0; i < 2; ++i) {
    const std::wstring stream = calls_.reads[0].streams[i];
    EXPECT_EQ(calls_.streams[i].first.native(), target_.native() + stream);
    const std::wstring& to = calls_.streams[i].second.native();
    ASSERT_TRUE(to.ends_with(stream));
    copy = to.substr(0, to.size() - stream.size());
    EXPECT_EQ(copy.parent_path(), folder_.path());
    EXPECT_NE(copy, target_);
    EXPECT_TRUE(targetStillOld[i]);
  }
  EXPECT_FALSE(std::filesystem::exists(copy)) << "the copy took the name";
}

TEST_F(KeptMetadataTest, AStreamThatCannotBeCopiedLeavesTheFileAsItWas) {
  ReadAs([](KeptMetadata& kept) { kept.streams = {L":Zone.Identifier:$DATA"}; });
  calls_.streamCopy = [] { throw FileError("Could not read", "stream", "injected"); };
  EXPECT_THROW(PatchRun(target_, *ops_), FileError);
  ExpectUnchanged();
}

TEST_F(KeptMetadataTest, CompressesTheNewFileBeforeAnyByteIsWritten) {
  ReadAs([](KeptMetadata& kept) { kept.attributes |= FILE_ATTRIBUTE_COMPRESSED; });
  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);
  ASSERT_EQ(calls_.compressions.size(), 1u);
  EXPECT_EQ(calls_.compressions[0].format, COMPRESSION_FORMAT_DEFAULT);
  EXPECT_EQ(calls_.compressions[0].sizeThen, 0);

  // An uncompressed file in a compressed folder stays uncompressed.
  WriteBytes(target_, english_);
  calls_.compressions.clear();
  calls_.compressesNewFiles = true;
  ReadAs([](KeptMetadata&) {});
  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);
  ASSERT_EQ(calls_.compressions.size(), 1u);
  EXPECT_EQ(calls_.compressions[0].format, COMPRESSION_FORMAT_NONE);

  // A file as compressed as its folder's new files is left so.
  WriteBytes(target_, english_);
  calls_.compressions.clear();
  ReadAs([](KeptMetadata& kept) { kept.attributes |= FILE_ATTRIBUTE_COMPRESSED; });
  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);
  EXPECT_TRUE(calls_.compressions.empty());
}

TEST_F(KeptMetadataTest, AnEncryptedFileIsCopiedOnlyEncrypted) {
  ReadAs([](KeptMetadata& kept) { kept.attributes |= FILE_ATTRIBUTE_ENCRYPTED; });
  const std::filesystem::path backup = BackupPathFor(target_);

  // Where the system cannot encrypt (Wine creates the file unencrypted), nothing is written.
  for (const bool keepBackup : {false, true}) {
    SCOPED_TRACE(keepBackup ? "with a backup" : "without a backup");
    calls_.creations.clear();
    try {
      keepBackup ? PatchFile(target_, backup, *ops_).outcome : PatchRun(target_, *ops_);
      ADD_FAILURE() << "an encrypted file was copied in plain text";
    } catch (const FileError& error) {
      EXPECT_EQ(error.reason(),
                "the original file is encrypted, and the system did not encrypt this one");
    }
    ASSERT_EQ(calls_.creations.size(), 1u);
    EXPECT_EQ(calls_.creations[0], static_cast<DWORD>(FILE_ATTRIBUTE_ENCRYPTED));
    ExpectUnchanged();
  }

  // Where it refuses to create an encrypted file at all, the message says why.
  calls_.createAnswer = ERROR_ACCESS_DENIED;
  try {
    PatchRun(target_, *ops_);
    ADD_FAILURE() << "a refused encrypted copy went unnoticed";
  } catch (const FileError& error) {
    EXPECT_TRUE(error.reason().starts_with(
        "the original file is encrypted, and an encrypted file could not be created here: "))
        << error.reason();
  }
  ExpectUnchanged();

  // Where it encrypts, both the backup and the new file are created encrypted.
  calls_.createAnswer = ERROR_SUCCESS;
  calls_.encryptsWhenAsked = true;
  calls_.creations.clear();
  EXPECT_EQ(PatchFile(target_, backup, *ops_).outcome, PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target_), italian_);
  EXPECT_EQ(ReadBytes(backup), english_);
  EXPECT_EQ(calls_.creations, (std::vector<DWORD>(2, FILE_ATTRIBUTE_ENCRYPTED)));
}

TEST_F(KeptMetadataTest, GivesTheShortNameToTheFileUnderTheNameOnceTheOldOneIsGone) {
  ReadAs([](KeptMetadata& kept) { kept.shortName = L"QUORVI~1.EXE"; });
  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);
  ASSERT_EQ(calls_.shortNames.size(), 1u);
  EXPECT_EQ(calls_.shortNames[0].file, IndexOf(target_));
  EXPECT_EQ(calls_.shortNames[0].name, L"QUORVI~1.EXE");
  EXPECT_TRUE(calls_.shortNames[0].restorePrivilege);
  EXPECT_FALSE(RestorePrivilegeEnabled());

  // Without the restore privilege the system refuses, the update stands and the privilege is
  // left as it was.
  WriteBytes(target_, english_);
  calls_.shortNameAnswer = ERROR_PRIVILEGE_NOT_HELD;
  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target_), italian_);
  EXPECT_FALSE(RestorePrivilegeEnabled());

  // A file that another program saved under the name since the replace keeps its own.
  calls_.shortNames.clear();
  const std::filesystem::path replacement = folder_ / "replacement";
  WriteBytes(replacement, english_);
  ops_->KeepShortName(target_, calls_.reads.back(), StampOfFileAt(replacement));
  EXPECT_TRUE(calls_.shortNames.empty());
  ops_->KeepShortName(target_, calls_.reads.back(), StampOfFileAt(target_));
  EXPECT_EQ(calls_.shortNames.size(), 1u);
  std::filesystem::remove(replacement);

  // A backup is a file of its own, with a short name of its own.
  WriteBytes(target_, english_);
  calls_.shortNames.clear();
  EXPECT_EQ(PatchFile(target_, BackupPathFor(target_), *ops_).outcome, PatchOutcome::Completed);
  ASSERT_EQ(calls_.shortNames.size(), 1u);
  EXPECT_EQ(calls_.shortNames[0].file, IndexOf(target_));
}

TEST_F(KeptMetadataTest, GivesTheNewFileTheCreationTimeAndAttributesAndTheArchiveMark) {
  // Wine keeps no creation time and shows every file with the archive mark, which backup
  // programs pick changed files by.
  ReadAs([](KeptMetadata& kept) {
    kept.created = {0x12345678, 0x01D00000};
    kept.attributes = FILE_ATTRIBUTE_HIDDEN;
  });
  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);
  const std::uint64_t newFile = IndexOf(target_);
  EXPECT_EQ(calls_.creationTimes, (std::vector{std::make_pair(newFile, 0x01D0000012345678ULL)}));
  const DWORD marked = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
  EXPECT_EQ(calls_.attributeSets, (std::vector{std::make_pair(newFile, marked)}));
}

// One entry of NtQueryInformationFile(FileStreamInformation)'s answer, padded to 8 bytes.
void AddStreamEntry(std::vector<std::uint8_t>& answer, const std::wstring& name, bool last) {
  const std::size_t nameAt = offsetof(FILE_STREAM_INFORMATION, StreamName);
  const std::size_t length = (nameAt + name.size() * sizeof(wchar_t) + 7) / 8 * 8;
  std::vector<std::uint8_t> entry(length);
  const ULONG next = last ? 0 : static_cast<ULONG>(length);
  const ULONG nameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
  std::memcpy(entry.data(), &next, sizeof next);
  std::memcpy(entry.data() + sizeof next, &nameLength, sizeof nameLength);
  std::memcpy(entry.data() + nameAt, name.data(), nameLength);
  answer.insert(answer.end(), entry.begin(), entry.end());
}

TEST(AlternateStreamNames, ListsEveryNamedStreamAndNeverReadsPastTheAnswer) {
  std::vector<std::uint8_t> answer;
  AddStreamEntry(answer, L"::$DATA", false);
  AddStreamEntry(answer, L":Zone.Identifier:$DATA", false);
  AddStreamEntry(answer, L":a:$DATA", true);
  EXPECT_EQ(AlternateStreamNames(answer),
            (std::vector<std::wstring>{L":Zone.Identifier:$DATA", L":a:$DATA"}));
  // A file without streams of its own, and a folder, which has no stream at all.
  std::vector<std::uint8_t> unnamedOnly;
  AddStreamEntry(unnamedOnly, L"::$DATA", true);
  EXPECT_TRUE(AlternateStreamNames(unnamedOnly).empty());
  EXPECT_TRUE(AlternateStreamNames({}).empty());
  // Cut anywhere, an answer gives the whole entries before the cut and nothing more.
  for (std::size_t size = 0; size < answer.size(); ++size) {
    const auto names = AlternateStreamNames(std::span(answer).first(size));
    EXPECT_LE(names.size(), 2u);
    for (const std::wstring& name : names) EXPECT_TRUE(name.ends_with(L":$DATA")) << size;
  }
}

TEST(SystemMetadataCalls, CopiesAStreamWholeIntoANewOneOnly) {
  // Streams are files' parts that Wine does not have; a whole file is copied the same way.
  const testing::TempFolder folder;
  Bytes bytes(200 * 1024);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  WriteBytes(folder / "from", bytes);
  MetadataCalls& calls = SystemMetadataCalls();
  std::vector<std::filesystem::path> steps;
  testing::ObservedFileOps ops(
      [&](int, const std::filesystem::path& path) { steps.push_back(path); });
  calls.CopyStream(folder / "from", folder / "to", ops);
  EXPECT_EQ(ReadBytes(folder / "to"), bytes);
  // Copied, flushed and closed through the steps it is given.
  EXPECT_EQ(steps, std::vector<std::filesystem::path>(3, folder / "to"));
  EXPECT_THROW(calls.CopyStream(folder / "from", folder / "to", NativeFileOps()), FileError);
  EXPECT_THROW(calls.CopyStream(folder / "missing", folder / "other", NativeFileOps()), FileError);
  EXPECT_EQ(ReadBytes(folder / "to"), bytes);
  EXPECT_FALSE(std::filesystem::exists(folder / "other"));
}

}  // namespace
}  // namespace quorvik
