#include "file_error.h"

namespace quorvik {

namespace {

std::string Describe(const std::string& operation, const std::string& path,
                     const std::string& reason) {
  std::string text = operation;
  text.append(" \"").append(path).append("\": ").append(reason);
  return text;
}

}  // namespace

std::string PathToUtf8(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return {utf8.begin(), utf8.end()};
}

FileError::FileError(std::string operation, const std::filesystem::path& path, std::string reason)
    : std::runtime_error(operation),
      operation_(std::move(operation)),
      path_(PathToUtf8(path)),
      reason_(std::move(reason)),
      text_(Describe(operation_, path_, reason_)) {}

void FileError::AddAftermath(const std::string& sentence) {
  if (!text_.ends_with('.')) text_ += '.';
  text_.append(" ").append(sentence);
}

void FileError::MarkFileStateUnknown() {
  fileLeftUnchanged_ = false;
  AddAftermath("Whether the file now holds the update could not be checked.");
}

}  // namespace quorvik
