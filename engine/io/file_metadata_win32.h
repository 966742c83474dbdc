#pragma once

// Windows only: what a new file keeps of the file whose place it takes, or of which it is a
// copy, beyond its bytes and its name.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform.h"

namespace quorvik {

struct KeptMetadata {
  std::filesystem::path file;  // the file it was read from
  // What that file's volume keeps: FILE_PERSISTENT_ACLS, FILE_NAMED_STREAMS and the like.
  DWORD volumeFlags = 0;
  DWORD attributes = 0;
  FILETIME created{};
  // Owner, group and access list, as a self-relative security descriptor; empty where the
  // volume keeps none.
  std::vector<std::uint8_t> security;
  // Its alternate data streams, each named as the system names it: ":name:$DATA".
  std::vector<std::wstring> streams;
  std::wstring shortName;  // its 8.3 name; empty where it has none
};

// The system calls through which a file's metadata is read and given to its new file. Tests put
// others in their place (Win32FileOpsWith) to see what is asked of the system where Wine keeps
// none of it: access lists, streams, compression, encryption and short names.
class MetadataCalls {
 public:
  virtual ~MetadataCalls() = default;

  // What the open `file`, named `name`, keeps: it is open for READ_CONTROL and
  // FILE_READ_ATTRIBUTES. Throws FileError.
  virtual KeptMetadata Read(HANDLE file, const std::filesystem::path& name) = 0;
  // Creates the new file `name` (CREATE_NEW) with `attributes`, open to write it, compress it
  // and set its security, shared with no one. GetLastError() tells why it failed.
  virtual NativeFile CreateNew(const std::wstring& name, DWORD attributes) = 0;
  // The attributes of an open file; none where they cannot be read.
  virtual DWORD Attributes(HANDLE file) = 0;

  // These return the system's error code: ERROR_SUCCESS when they worked.
  // The owner, group and access list of an open file, as a self-relative security descriptor.
  virtual DWORD Security(HANDLE file, std::vector<std::uint8_t>& security) = 0;
  // FSCTL_SET_COMPRESSION with `format`.
  virtual DWORD SetCompression(HANDLE file, USHORT format) = 0;
  // SetSecurityInfo of the `parts` given.
  virtual DWORD SetSecurity(HANDLE file, SECURITY_INFORMATION parts, PSID owner, PSID group,
                            PACL dacl) = 0;
  // SetFileShortNameW, on a file opened for writing and deleting with backup semantics.
  virtual DWORD SetShortName(HANDLE file, const std::wstring& name) = 0;
  // SetFileTime of the creation time alone.
  virtual DWORD SetCreationTime(HANDLE file, const FILETIME& created) = 0;
  // SetFileAttributesW of the file `name`, which this process holds open.
  virtual DWORD SetAttributes(const std::wstring& name, DWORD attributes) = 0;

  // Copies the stream `from` (a file's name followed by a stream's) to the new stream `to` of a
  // file this process holds open, flushed to disk, through the steps of `ops`. Throws FileError.
  virtual void CopyStream(const std::filesystem::path& from, const std::filesystem::path& to,
                          FileOps& ops) = 0;
};

MetadataCalls& SystemMetadataCalls();

// The file system's flags (FILE_SUPPORTS_...) of the volume that holds the open file. Throws
// FileError.
DWORD VolumeFlagsOf(HANDLE file, const std::filesystem::path& path);

// The names of the alternate data streams in the answer to
// NtQueryInformationFile(FileStreamInformation): every stream but the file's unnamed one.
std::vector<std::wstring> AlternateStreamNames(std::span<const std::uint8_t> information);

// The steps of Win32 FileOps that give a new file what it keeps, all through `calls`.

// The attributes to create the new file with: encrypted where the old file is.
DWORD CreationAttributes(const KeptMetadata& kept);
// Why creating it failed with the system's `error`, naming the encryption where it is asked for.
std::string CreationFailure(const KeptMetadata& kept, DWORD error);
// Makes the new, still empty file store its bytes as the old one does: refuses an unencrypted
// copy of an encrypted file, and compresses it where the old one is compressed (or the reverse).
// Throws FileError.
void StoreLike(MetadataCalls& calls, const KeptMetadata& kept, HANDLE file,
               const std::filesystem::path& path);
// Gives the new file its streams (copied through `ops`), creation time and attributes, then the
// owner and group (where the process may set them) and access list where they differ from those
// the system gave it. Throws FileError.
void GiveMetadata(MetadataCalls& calls, FileOps& ops, const KeptMetadata& kept, HANDLE file,
                  const std::filesystem::path& path);
// Gives the file now at `target` the old file's short name, where the process may and the file is
// still the one with the stamp `replacement`.
void GiveShortName(MetadataCalls& calls, const KeptMetadata& kept,
                   const std::filesystem::path& target, const FileStamp& replacement) noexcept;

}  // namespace quorvik
