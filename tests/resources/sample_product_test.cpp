// The sample install of the product, end to end: its window shows the English texts, a patch run
// on its program file completes, and started again it shows the Italian texts. A second patch
// run refuses the patched file and leaves it as it is.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <string_view>

#include "file_commands.h"
#include "file_error.h"
#include "sample_product_ids.h"
#include "table_patch.h"
#include "temp_folder.h"
#include "translation_table.h"

namespace quorvik {

// Outcomes by name in failure messages.
static void PrintTo(PatchOutcome outcome, std::ostream* out) {
  switch (outcome) {
    case PatchOutcome::InvalidPath:
      *out << "InvalidPath";
      return;
    case PatchOutcome::CannotUpdate:
      *out << "CannotUpdate";
      return;
    case PatchOutcome::Completed:
      *out << "Completed";
      return;
  }
  *out << "PatchOutcome(" << static_cast<int>(outcome) << ")";
}

namespace {

constexpr wchar_t kProductTitle[] = L"[_ Quorvik 2000 _| ";
constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 10000;
constexpr DWORD kPollMs = 50;

using Texts = std::map<int, std::wstring>;  // control identifier -> text

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// What the product's window should show: text k of the table in control IDS_FIRST_TEXT + k - 1.
Texts ExpectedTexts(bool italian) {
  Texts texts;
  for (const TranslationPair& pair : BuiltInTranslationTable()) {
    texts[IDS_FIRST_TEXT + pair.number - 1] = Widen(italian ? pair.italian : pair.english);
  }
  return texts;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  return std::wstring(name, static_cast<std::size_t>(GetClassNameW(window, name, 64)));
}

// The product started from a given program file, seen from outside as a user sees it.
class RunningProduct {
 public:
  explicit RunningProduct(const std::filesystem::path& exe) {
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process_)) {
      ADD_FAILURE() << "cannot start " << exe << ", error " << GetLastError();
      return;
    }
    CloseHandle(process_.hThread);
    WaitForInputIdle(process_.hProcess, kStartTimeoutMs);
    // Waiting on the process also paces the search: it ends at once if the product exits.
    for (DWORD waited = 0; !window_ && waited < kStartTimeoutMs; waited += kPollMs) {
      EnumWindows(FindOwnWindow, reinterpret_cast<LPARAM>(this));
      if (!window_ && WaitForSingleObject(process_.hProcess, kPollMs) == WAIT_OBJECT_0) break;
    }
    if (!window_) ADD_FAILURE() << "the product showed no window titled \"[_ Quorvik 2000 _| \"";
  }

  RunningProduct(const RunningProduct&) = delete;
  RunningProduct& operator=(const RunningProduct&) = delete;

  ~RunningProduct() {
    if (!process_.hProcess) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, kExitTimeoutMs);
    }
    CloseHandle(process_.hProcess);
  }

  HWND window() const { return window_; }

  // The texts of the window's visible static controls, by control identifier.
  Texts VisibleTexts() const {
    Texts texts;
    if (window_) EnumChildWindows(window_, CollectText, reinterpret_cast<LPARAM>(&texts));
    return texts;
  }

  // Closes the window as the title-bar button does and returns the exit code, or ~0u when the
  // program did not end.
  DWORD Close() {
    if (!process_.hProcess) return ~0u;
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, kExitTimeoutMs) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

 private:
  static BOOL CALLBACK FindOwnWindow(HWND window, LPARAM self) {
    auto* product = reinterpret_cast<RunningProduct*>(self);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == product->process_.dwProcessId && IsWindowVisible(window) &&
        WindowText(window) == kProductTitle) {
      product->window_ = window;
      return FALSE;
    }
    return TRUE;
  }

  static BOOL CALLBACK CollectText(HWND control, LPARAM texts) {
    if (IsWindowVisible(control) && _wcsicmp(ClassName(control).c_str(), L"Static") == 0) {
      (*reinterpret_cast<Texts*>(texts))[GetDlgCtrlID(control)] = WindowText(control);
    }
    return TRUE;
  }

  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// A fresh copy of the sample product's program file, as if installed.
class SampleInstall : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::copy_file(QUORVIK_SAMPLE_PRODUCT_EXE, exe); }

  testing::TempFolder folder;
  const std::filesystem::path exe = folder / "Quorvik.exe";
};

TEST_F(SampleInstall, ShowsEnglishThenItalianOnceItsProgramFileIsPatched) {
  {
    RunningProduct product(exe);
    ASSERT_NE(product.window(), nullptr);
    EXPECT_EQ(product.VisibleTexts(), ExpectedTexts(false));
    EXPECT_EQ(product.Close(), 0u);
  }

  ASSERT_EQ(PatchRun(exe), PatchOutcome::Completed);

  RunningProduct product(exe);
  ASSERT_NE(product.window(), nullptr);
  EXPECT_EQ(WindowText(product.window()), kProductTitle);
  EXPECT_EQ(product.VisibleTexts(), ExpectedTexts(true));
  EXPECT_EQ(product.Close(), 0u);
}

TEST_F(SampleInstall, PatchRunCompletesOnceThenCannotUpdate) {
  const Bytes original = testing::ReadBytes(exe);

  ASSERT_EQ(PatchRun(exe), PatchOutcome::Completed);
  const Bytes patched = testing::ReadBytes(exe);
  ASSERT_EQ(patched.size(), original.size());
  // Only the texts changed: at most the wide length of every pair's text differs.
  std::size_t textBytes = 0;
  for (const TranslationPair& pair : BuiltInTranslationTable())
    textBytes += 2 * pair.english.size();
  std::size_t differing = 0;
  for (std::size_t i = 0; i < original.size(); ++i) differing += original[i] != patched[i];
  EXPECT_GT(differing, 0u);
  EXPECT_LE(differing, textBytes);

  EXPECT_EQ(PatchRun(exe), PatchOutcome::CannotUpdate);
  EXPECT_EQ(testing::ReadBytes(exe), patched);
}

TEST_F(SampleInstall, PatchingTheRunningProductIsAllOrNothing) {
  // Windows refuses to replace the program file of a running program; Wine, on Linux, lets the
  // running program keep the old file. Either way the file is whole and nothing is left over.
  const Bytes original = testing::ReadBytes(exe);
  Bytes patched = original;
  ApplyTable(patched, WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian));

  RunningProduct product(exe);
  ASSERT_NE(product.window(), nullptr);
  bool completed = false;
  try {
    completed = PatchRun(exe) == PatchOutcome::Completed;
  } catch (const FileError& error) {
    EXPECT_EQ(error.path(), PathToUtf8(exe)) << error.what();
  }
  EXPECT_EQ(testing::ReadBytes(exe), completed ? patched : original);
  EXPECT_EQ(folder.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
  EXPECT_EQ(product.VisibleTexts(), ExpectedTexts(false)) << "the running product is unaffected";
  EXPECT_EQ(product.Close(), 0u);
}

}  // namespace
}  // namespace quorvik
