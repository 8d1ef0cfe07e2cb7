// The pickers against a stand-in zenity: what the user chose comes back in
// the chooser's order, cancels and failures give nothing, and every call
// leaves the thread's COM state and the COM objects as it found them.
#include "gui/pickers.h"

#include "platform/win32.h"
#include "tests/gui/panel/fake_zenity.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quillmere {
namespace {

using Paths = std::vector<std::string>;

bool Has(const Paths& args, const std::string& arg) {
  return std::find(args.begin(), args.end(), arg) != args.end();
}

// Runs body on a thread of its own, whose COM state starts uninitialised.
void OnFreshThread(const std::function<void()>& body) {
  std::thread thread(body);
  thread.join();
}

class PickersTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(fault_injection::LiveComObjects(), 0) << "a COM reference was not released";
    fault_injection::ResetComFaults();
  }
  FakeZenity zenity;
};

TEST_F(PickersTest, SeveralFilesComeBackInTheChoosersOrder) {
  const Paths chosen = {"/data/c.txt", "/data/a.txt", "/data/b.txt", "/data/a.txt"};
  zenity.AnswerMultiple(chosen);
  EXPECT_EQ(PickFiles(nullptr), chosen);  // no sorting, duplicates kept

  const Paths args = zenity.LastArguments();
  EXPECT_TRUE(Has(args, "--file-selection"));
  EXPECT_TRUE(Has(args, "--multiple"));
  EXPECT_FALSE(Has(args, "--directory"));
}

TEST_F(PickersTest, SeveralFoldersAreTheFoldersOwnPaths) {
  const Paths chosen = {"/data/Photos", "/data/Music"};
  zenity.AnswerMultiple(chosen);
  EXPECT_EQ(PickFolders(nullptr), chosen);

  const Paths args = zenity.LastArguments();
  EXPECT_TRUE(Has(args, "--multiple"));
  EXPECT_TRUE(Has(args, "--directory"));
}

TEST_F(PickersTest, OneFolderIsPickedWithoutMultipleSelection) {
  zenity.AnswerSingle("/backup/target");
  EXPECT_EQ(PickFolder(nullptr), "/backup/target");

  const Paths args = zenity.LastArguments();
  EXPECT_TRUE(Has(args, "--directory"));
  EXPECT_FALSE(Has(args, "--multiple"));
  EXPECT_FALSE(std::any_of(args.begin(), args.end(),
                           [](const std::string& arg) { return arg.rfind("--attach", 0) == 0; }))
      << "no window, no owner";
}

TEST_F(PickersTest, CancelGivesNothing) {
  zenity.CancelAll();
  EXPECT_TRUE(PickFiles(nullptr).empty());
  EXPECT_TRUE(PickFolders(nullptr).empty());
  EXPECT_EQ(PickFolder(nullptr), "");
  EXPECT_EQ(zenity.Calls(), 3);
}

TEST_F(PickersTest, NamesWithSpacesQuotesAndVietnameseLettersSurviveByteForByte) {
  const Paths chosen = {"/tmp/Thư mục có dấu cách/ảnh đẹp 1.jpg", "/tmp/it's \"quoted\" $HOME;`x`",
                        "/tmp/Tiếng Việt/Đường dẫn"};
  zenity.AnswerMultiple(chosen);
  EXPECT_EQ(PickFiles(nullptr), chosen);
  zenity.AnswerSingle(chosen[2]);
  EXPECT_EQ(PickFolder(nullptr), chosen[2]);
}

TEST_F(PickersTest, AnEntryWithoutAFileSystemPathIsLeftOutAndTheOthersKept) {
  zenity.AnswerMultiple({"/data/one", "", "relative/name", "/data/two"});
  EXPECT_EQ(PickFiles(nullptr), (Paths{"/data/one", "/data/two"}));
  zenity.AnswerSingle("relative/name");
  EXPECT_EQ(PickFolder(nullptr), "");
}

TEST_F(PickersTest, MissingChooserGivesNothing) {
  const char* saved = std::getenv("PATH");
  const std::string savedPath = saved != nullptr ? saved : "";
  testing_support::TempDir empty;
  setenv("PATH", empty.path().c_str(), 1);
  EXPECT_TRUE(PickFiles(nullptr).empty());
  EXPECT_EQ(PickFolder(nullptr), "");
  setenv("PATH", savedPath.c_str(), 1);
}

TEST_F(PickersTest, DialogThatCannotBeCreatedGivesNothingAndShowsNoChooser) {
  zenity.AnswerMultiple({"/data/a"});
  zenity.AnswerSingle("/data/b");
  fault_injection::FailCoCreateInstance(E_OUTOFMEMORY);
  EXPECT_TRUE(PickFolders(nullptr).empty());
  EXPECT_EQ(PickFolder(nullptr), "");
  EXPECT_EQ(zenity.Calls(), 0);
}

// ---- COM initialisation in balance ----

TEST_F(PickersTest, LeavesAnUninitialisedThreadUninitialised) {
  zenity.AnswerMultiple({"/data/a"});
  OnFreshThread([] {
    EXPECT_EQ(PickFiles(nullptr).size(), 1u);
    // Still uninitialised: any mode may be chosen now.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  });
}

TEST_F(PickersTest, MatchesAnAlreadyInitialisedApartmentWithItsOwnUninitialise) {
  zenity.AnswerSingle("/data/a");
  OnFreshThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(PickFolder(nullptr), "/data/a");
    // Exactly the caller's one initialisation is left.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  });
}

TEST_F(PickersTest, OnAMultithreadedThreadStillShowsAndDoesNotUninitialise) {
  zenity.AnswerMultiple({"/data/a", "/data/b"});
  OnFreshThread([this] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(PickFolders(nullptr), (Paths{"/data/a", "/data/b"}));
    EXPECT_EQ(zenity.Calls(), 1);
    // The caller's initialisation is untouched and no other was added.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
  });
}

// ---- The dialog's options ----

FILEOPENDIALOGOPTIONS OptionsOf(IFileOpenDialog* dialog) {
  FILEOPENDIALOGOPTIONS options = 0;
  EXPECT_EQ(dialog->GetOptions(&options), S_OK);
  return options;
}

TEST_F(PickersTest, CreateOpenDialogAddsItsOptionsOnTopOfTheDefaults) {
  OnFreshThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    FILEOPENDIALOGOPTIONS defaults = 0;
    {
      ComRef<IFileOpenDialog> plain;
      ASSERT_EQ(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                 reinterpret_cast<void**>(plain.put())),
                S_OK);
      defaults = OptionsOf(plain.get());
    }
    EXPECT_EQ(OptionsOf(CreateOpenDialog(false, true).get()), defaults | 0x240u);  // files
    EXPECT_EQ(OptionsOf(CreateOpenDialog(true, true).get()), defaults | 0x260u);   // folders
    EXPECT_EQ(OptionsOf(CreateOpenDialog(true, false).get()), defaults | 0x60u);   // one folder
    CoUninitialize();
  });
}

// ---- The dialog stand-in itself ----

TEST_F(PickersTest, DialogReportsCancelAndFailureAsWindowsDoes) {
  OnFreshThread([this] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ComRef<IFileOpenDialog> dialog = CreateOpenDialog(false, false);
    ASSERT_TRUE(dialog);
    ComRef<IShellItem> item;
    EXPECT_EQ(dialog->GetResult(item.put()), E_UNEXPECTED) << "nothing chosen yet";

    zenity.CancelAll();
    EXPECT_EQ(dialog->Show(nullptr), HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_EQ(dialog->GetResult(item.put()), E_UNEXPECTED);

    zenity.AnswerSingle("/data/x");
    EXPECT_EQ(dialog->Show(reinterpret_cast<HWND>(static_cast<uintptr_t>(4242))), S_OK);
    EXPECT_TRUE(Has(zenity.LastArguments(), "--attach=4242")) << "the owner's window id";
    CoUninitialize();
  });
}

TEST(ComStandin, InitialisationFollowsTheThreadsMode) {
  OnFreshThread([] {
    EXPECT_EQ(CoInitializeEx(reinterpret_cast<void*>(1), COINIT_APARTMENTTHREADED), E_INVALIDARG);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                               &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoCreateInstance(IID_IUnknown, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // one too many does nothing
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  });
}

}  // namespace
}  // namespace quillmere
