// What a new file keeps of the old one on Windows, given to it before it takes the old file's
// name, so that at no moment does a file under that name lack it. Its owner, group and access
// list come last: once they are the old file's, this process may no longer be allowed to open
// the new file by name, as the streams and attributes are set.
#include "file_metadata_win32.h"

#include <aclapi.h>
#include <winioctl.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <string_view>

#include "file_error.h"
#include "win32_support.h"

namespace quorvik {
namespace {

constexpr std::wstring_view kUnnamedStream = L"::$DATA";

// GetSecurityInfo of the owner, group and access list, as a self-relative descriptor.
DWORD SecurityOf(HANDLE file, std::vector<std::uint8_t>& security) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetSecurityInfo(
      file, SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
      nullptr, nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return error;
  const auto* bytes = static_cast<const std::uint8_t*>(descriptor);
  security.assign(bytes, bytes + GetSecurityDescriptorLength(descriptor));
  LocalFree(descriptor);
  return ERROR_SUCCESS;
}

std::vector<std::wstring> StreamsOf(HANDLE file, const std::filesystem::path& path) {
  std::vector<std::uint8_t> information;
  const NTSTATUS status = QueryFileInformation(file, FileStreamInformation, information);
  if (!NT_SUCCESS(status)) {
    throw FileError("Could not list the streams of", path, NtStatusText(status));
  }
  return AlternateStreamNames(information);
}

std::wstring ShortNameOf(HANDLE file) {
  // An 8.3 name has at most 12 characters. A file without one, or a system or file system that
  // cannot tell, has none to keep.
  union {
    FILE_NAME_INFORMATION information;
    std::uint8_t bytes[sizeof(FILE_NAME_INFORMATION) + 16 * sizeof(WCHAR)];
  } answer{};
  const NTSTATUS status =
      QueryFileInformation(file, &answer, sizeof answer, FileAlternateNameInformation);
  if (!NT_SUCCESS(status)) return {};
  return std::wstring(answer.information.FileName,
                      answer.information.FileNameLength / sizeof(WCHAR));
}

// The restore privilege, enabled for as long as this lives where the process holds it (an
// administrator's process does, disabled): it lets the process give a file any owner and group,
// and a short name.
class RestorePrivilegeEnabled {
 public:
  RestorePrivilegeEnabled() : enabledHere_(Adjust(SE_PRIVILEGE_ENABLED)) {}
  RestorePrivilegeEnabled(const RestorePrivilegeEnabled&) = delete;
  RestorePrivilegeEnabled& operator=(const RestorePrivilegeEnabled&) = delete;
  ~RestorePrivilegeEnabled() {
    if (enabledHere_) Adjust(0);
  }

 private:
  // True when the privilege's state changed.
  static bool Adjust(DWORD state) {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened)) {
      return false;
    }
    const UniqueHandle token(opened);
    TOKEN_PRIVILEGES wanted{.PrivilegeCount = 1};
    wanted.Privileges[0].Attributes = state;
    // Only the privileges whose state changed come back.
    TOKEN_PRIVILEGES previous{};
    DWORD size = sizeof previous;
    const bool changed =
        LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &wanted.Privileges[0].Luid) &&
        AdjustTokenPrivileges(token.get(), FALSE, &wanted, sizeof previous, &previous, &size) &&
        GetLastError() == ERROR_SUCCESS && previous.PrivilegeCount == 1;
    return changed;
  }

  bool enabledHere_;
};

// The parts of a security descriptor that a file keeps.
struct SecurityParts {
  PSID owner = nullptr;
  PSID group = nullptr;
  bool hasAccessList = false;
  // A protected list is the file's own whole; an unprotected one also takes its folder's
  // inheritable entries, which the system adds by itself, so only its own entries are given.
  bool isProtected = false;
  bool everyoneMayDoAnything = false;       // an access list that is present but null
  std::vector<std::uint8_t> entriesToGive;  // an ACL
};

// The access list's entries to give: all of a protected one's, an unprotected one's own.
std::vector<std::uint8_t> EntriesToGive(PACL dacl, bool isProtected) {
  std::vector<void*> entries;
  DWORD size = sizeof(ACL);
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* entry = nullptr;
    if (!GetAce(dacl, index, &entry)) return {};
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (isProtected || (header->AceFlags & INHERITED_ACE) == 0) {
      entries.push_back(entry);
      size += header->AceSize;
    }
  }
  std::vector<std::uint8_t> acl(size);
  if (!InitializeAcl(reinterpret_cast<PACL>(acl.data()), size, dacl->AclRevision)) return {};
  for (void* entry : entries) {
    if (!AddAce(reinterpret_cast<PACL>(acl.data()), dacl->AclRevision, MAXDWORD, entry,
                static_cast<const ACE_HEADER*>(entry)->AceSize)) {
      return {};
    }
  }
  return acl;
}

// Throws FileError.
SecurityParts PartsOf(const std::vector<std::uint8_t>& bytes, const std::filesystem::path& path) {
  auto* descriptor = const_cast<std::uint8_t*>(bytes.data());
  SecurityParts security;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
      !GetSecurityDescriptorOwner(descriptor, &security.owner, &defaulted) ||
      !GetSecurityDescriptorGroup(descriptor, &security.group, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    ThrowLastError("Could not read the permissions of", path);
  }
  security.hasAccessList = present;
  security.isProtected = (control & SE_DACL_PROTECTED) != 0;
  security.everyoneMayDoAnything = present && dacl == nullptr;
  if (dacl) {
    security.entriesToGive = EntriesToGive(dacl, security.isProtected);
    if (security.entriesToGive.empty()) ThrowLastError("Could not read the permissions of", path);
  }
  return security;
}

bool SameSid(PSID a, PSID b) { return a && b && EqualSid(a, b); }

bool SameAccessList(const SecurityParts& a, const SecurityParts& b) {
  return a.hasAccessList == b.hasAccessList && a.isProtected == b.isProtected &&
         a.everyoneMayDoAnything == b.everyoneMayDoAnything && a.entriesToGive == b.entriesToGive;
}

// Refusals of an owner or group that this process may not give: the file then keeps this
// process's, as any new file of the user's would.
bool MayNotGive(DWORD error) {
  return error == ERROR_INVALID_OWNER || error == ERROR_INVALID_PRIMARY_GROUP ||
         error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD;
}

// Sets only what differs from what the system gave the new file: in the usual case, an access
// list wholly taken from the folder, that is nothing.
void GiveSecurity(MetadataCalls& calls, const std::vector<std::uint8_t>& old, HANDLE file,
                  const std::filesystem::path& path) {
  const SecurityParts wanted = PartsOf(old, path);
  std::vector<std::uint8_t> currentBytes;
  if (const DWORD error = calls.Security(file, currentBytes); error != ERROR_SUCCESS) {
    throw FileError("Could not read the permissions of", path, SystemErrorText(error));
  }
  const SecurityParts current = PartsOf(currentBytes, path);

  {
    const RestorePrivilegeEnabled privilege;
    if (wanted.owner && !SameSid(wanted.owner, current.owner)) {
      const DWORD error =
          calls.SetSecurity(file, OWNER_SECURITY_INFORMATION, wanted.owner, nullptr, nullptr);
      if (error != ERROR_SUCCESS && !MayNotGive(error)) {
        throw FileError("Could not set the owner of the temporary file", path,
                        SystemErrorText(error));
      }
    }
    if (wanted.group && !SameSid(wanted.group, current.group)) {
      const DWORD error =
          calls.SetSecurity(file, GROUP_SECURITY_INFORMATION, nullptr, wanted.group, nullptr);
      if (error != ERROR_SUCCESS && !MayNotGive(error)) {
        throw FileError("Could not set the group of the temporary file", path,
                        SystemErrorText(error));
      }
    }
  }
  if (!wanted.hasAccessList || SameAccessList(wanted, current)) return;
  const auto dacl =
      wanted.everyoneMayDoAnything
          ? nullptr
          : reinterpret_cast<PACL>(const_cast<std::uint8_t*>(wanted.entriesToGive.data()));
  const SECURITY_INFORMATION inheritance = wanted.isProtected
                                               ? PROTECTED_DACL_SECURITY_INFORMATION
                                               : UNPROTECTED_DACL_SECURITY_INFORMATION;
  const DWORD error =
      calls.SetSecurity(file, DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr, dacl);
  if (error != ERROR_SUCCESS) {
    throw FileError("Could not set the permissions of the temporary file", path,
                    SystemErrorText(error));
  }
}

class SystemCalls final : public MetadataCalls {
 public:
  KeptMetadata Read(HANDLE handle, const std::filesystem::path& file) override {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) {
      ThrowLastError("Could not examine", file);
    }
    KeptMetadata kept{.file = file,
                      .volumeFlags = VolumeFlagsOf(handle, file),
                      .attributes = information.dwFileAttributes,
                      .created = information.ftCreationTime};
    if (kept.volumeFlags & FILE_PERSISTENT_ACLS) {
      if (const DWORD error = SecurityOf(handle, kept.security); error != ERROR_SUCCESS) {
        throw FileError("Could not read the permissions of", file, SystemErrorText(error));
      }
    }
    if (kept.volumeFlags & FILE_NAMED_STREAMS) kept.streams = StreamsOf(handle, file);
    kept.shortName = ShortNameOf(handle);
    return kept;
  }

  NativeFile CreateNew(const std::wstring& name, DWORD attributes) override {
    return NativeFile(CreateFileW(name.c_str(),
                                  GENERIC_READ | GENERIC_WRITE | WRITE_DAC | WRITE_OWNER, 0,
                                  nullptr, CREATE_NEW, attributes, nullptr));
  }

  DWORD Attributes(HANDLE file) override {
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileInformationByHandle(file, &information) ? information.dwFileAttributes : 0;
  }

  DWORD Security(HANDLE file, std::vector<std::uint8_t>& security) override {
    return SecurityOf(file, security);
  }

  DWORD SetCompression(HANDLE file, USHORT format) override {
    DWORD returned = 0;
    return DeviceIoControl(file, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0,
                           &returned, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
  }

  DWORD SetSecurity(HANDLE file, SECURITY_INFORMATION parts, PSID owner, PSID group,
                    PACL dacl) override {
    return SetSecurityInfo(file, SE_FILE_OBJECT, parts, owner, group, dacl, nullptr);
  }

  DWORD SetShortName(HANDLE file, const std::wstring& name) override {
    return SetFileShortNameW(file, name.c_str()) ? ERROR_SUCCESS : GetLastError();
  }

  DWORD SetCreationTime(HANDLE file, const FILETIME& created) override {
    return SetFileTime(file, &created, nullptr, nullptr) ? ERROR_SUCCESS : GetLastError();
  }

  DWORD SetAttributes(const std::wstring& name, DWORD attributes) override {
    return SetFileAttributesW(name.c_str(), attributes) ? ERROR_SUCCESS : GetLastError();
  }

  void CopyStream(const std::filesystem::path& from, const std::filesystem::path& to,
                  FileOps& ops) override {
    const std::wstring fromName = SystemPath(from);
    const NativeFile source = OpenExisting(fromName, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!source) ThrowLastError("Could not read", from);
    const std::wstring toName = SystemPath(to);
    NativeFile copy(CreateFileW(toName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    if (!copy) ThrowLastError("Could not create", to);
    ops.CopyContent(source, copy, to);
    ops.Flush(copy, to);
    ops.Close(copy, to);
  }
};

}  // namespace

DWORD VolumeFlagsOf(HANDLE file, const std::filesystem::path& path) {
  // Room for the file system's name, which the answer ends with.
  union {
    FILE_FS_ATTRIBUTE_INFORMATION information;
    std::uint8_t bytes[sizeof(FILE_FS_ATTRIBUTE_INFORMATION) + MAX_PATH * sizeof(WCHAR)];
  } answer{};
  const NTSTATUS status =
      QueryVolumeInformation(file, &answer, sizeof answer, FileFsAttributeInformation);
  if (!NT_SUCCESS(status)) throw FileError("Could not examine", path, NtStatusText(status));
  return answer.information.FileSystemAttributes;
}

MetadataCalls& SystemMetadataCalls() {
  static SystemCalls calls;
  return calls;
}

std::vector<std::wstring> AlternateStreamNames(std::span<const std::uint8_t> information) {
  // Entries of FILE_STREAM_INFORMATION, each at NextEntryOffset from the one before; the last
  // has 0 there. Every count is checked against the answer's length.
  constexpr std::size_t kNameAt = offsetof(FILE_STREAM_INFORMATION, StreamName);
  std::vector<std::wstring> names;
  std::size_t at = 0;
  while (at + kNameAt <= information.size()) {
    FILE_STREAM_INFORMATION entry;
    std::memcpy(&entry, information.data() + at, kNameAt);
    if (at + kNameAt + entry.StreamNameLength > information.size()) break;
    std::wstring name(entry.StreamNameLength / sizeof(WCHAR), L'\0');
    std::memcpy(name.data(), information.data() + at + kNameAt, name.size() * sizeof(WCHAR));
    if (!name.empty() && name != kUnnamedStream) names.push_back(std::move(name));
    if (entry.NextEntryOffset == 0) break;
    at += entry.NextEntryOffset;
  }
  return names;
}

DWORD CreationAttributes(const KeptMetadata& kept) {
  // Created encrypted, the file's bytes never reach the disk in plain text.
  return (kept.attributes & FILE_ATTRIBUTE_ENCRYPTED) ? FILE_ATTRIBUTE_ENCRYPTED
                                                      : FILE_ATTRIBUTE_NORMAL;
}

std::string CreationFailure(const KeptMetadata& kept, DWORD error) {
  const std::string reason = SystemErrorText(error);
  if ((kept.attributes & FILE_ATTRIBUTE_ENCRYPTED) == 0) return reason;
  return "the original file is encrypted, and an encrypted file could not be created here: " +
         reason;
}

void StoreLike(MetadataCalls& calls, const KeptMetadata& kept, HANDLE file,
               const std::filesystem::path& path) {
  const DWORD now = calls.Attributes(file);
  if ((kept.attributes & FILE_ATTRIBUTE_ENCRYPTED) && !(now & FILE_ATTRIBUTE_ENCRYPTED)) {
    throw FileError("Could not create the temporary file", path,
                    "the original file is encrypted, and the system did not encrypt this one");
  }
  // A new file takes its folder's compression; the old one may have been set apart from it.
  const bool compressed = (kept.attributes & FILE_ATTRIBUTE_COMPRESSED) != 0;
  if (compressed == ((now & FILE_ATTRIBUTE_COMPRESSED) != 0)) return;
  const DWORD error =
      calls.SetCompression(file, compressed ? COMPRESSION_FORMAT_DEFAULT : COMPRESSION_FORMAT_NONE);
  if (error != ERROR_SUCCESS) {
    throw FileError(compressed ? "Could not compress the temporary file"
                               : "Could not uncompress the temporary file",
                    path, SystemErrorText(error));
  }
}

void GiveMetadata(MetadataCalls& calls, FileOps& ops, const KeptMetadata& kept, HANDLE file,
                  const std::filesystem::path& path) {
  for (const std::wstring& stream : kept.streams) {
    calls.CopyStream(kept.file.native() + stream, path.native() + stream, ops);
  }
  if (const DWORD error = calls.SetCreationTime(file, kept.created); error != ERROR_SUCCESS) {
    throw FileError("Could not set the creation time of the temporary file", path,
                    SystemErrorText(error));
  }
  // Setting attributes needs no access that the sharing of the open file refuses, so the file is
  // named while it is held open: no other program can have moved or replaced it. The archive
  // mark is set, as Windows sets it on every write: backup programs pick changed files by it.
  constexpr DWORD kKept =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD attributes = (kept.attributes & kKept) | FILE_ATTRIBUTE_ARCHIVE;
  if (const DWORD error = calls.SetAttributes(SystemPath(path), attributes);
      error != ERROR_SUCCESS) {
    throw FileError("Could not set the attributes of the temporary file", path,
                    SystemErrorText(error));
  }
  if (!kept.security.empty()) GiveSecurity(calls, kept.security, file, path);
}

void GiveShortName(MetadataCalls& calls, const KeptMetadata& kept,
                   const std::filesystem::path& target, const FileStamp& replacement) noexcept {
  if (kept.shortName.empty()) return;
  // Backup semantics with the restore privilege grant the access that the file's own access
  // list may deny; without the privilege the system refuses the short name anyway.
  const RestorePrivilegeEnabled privilege;
  const NativeFile file =
      OpenExisting(SystemPath(target), GENERIC_WRITE | DELETE, FILE_FLAG_BACKUP_SEMANTICS);
  if (!file) return;
  // The name is opened with powers beyond the user's: only the file this update put there, and
  // never another one saved in its place since, gets the short name.
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.get(), &information) ||
      information.dwVolumeSerialNumber != replacement.volume ||
      ((static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) |
       information.nFileIndexLow) != replacement.index) {
    return;
  }
  calls.SetShortName(file.get(), kept.shortName);
}

}  // namespace quorvik
