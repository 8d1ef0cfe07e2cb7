// The panel's picker buttons against a stand-in desktop file chooser
// (zenity on PATH): what the pickers return lands in the panel state.
#include "tests/gui/panel/fake_zenity.h"
#include "tests/gui/panel/main_panel_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace quillmere {
namespace {

TEST_F(MainPanelTest, PickedSourcesAreAppendedInOrderKeepingDuplicatesAndTheSelection) {
  FakeZenity zenity;
  state.sources = {"/data/a"};
  state.selectedSource = 0;
  panel.Frame();

  zenity.AnswerMultiple({"/data/x", "/data/a"});
  panel.ClickButton("Add Files...");
  EXPECT_EQ(state.sources, (Paths{"/data/a", "/data/x", "/data/a"}));
  EXPECT_EQ(state.selectedSource, 0);

  zenity.AnswerMultiple({"/data/Folder"});
  panel.ClickButton("Add Folders...");
  EXPECT_EQ(state.sources.back(), "/data/Folder");
  const Paths args = zenity.LastArguments();
  EXPECT_NE(std::find(args.begin(), args.end(), "--directory"), args.end());

  zenity.CancelAll();
  panel.ClickButton("Add Files...");
  EXPECT_EQ(state.sources.size(), 4u) << "a cancelled picker changes nothing";
}

TEST_F(MainPanelTest, ChosenFolderFillsTheDestinationCutToItsBuffer) {
  FakeZenity zenity;
  panel.Frame();
  zenity.AnswerSingle("/backup/Ảnh");
  panel.ClickButton("Choose Folder...##dst");
  EXPECT_STREQ(state.destinationBuffer, "/backup/Ảnh");

  zenity.CancelAll();
  panel.ClickButton("Choose Folder...##dst");
  EXPECT_STREQ(state.destinationBuffer, "/backup/Ảnh") << "a cancel keeps the field";

  const std::string longPath = "/" + std::string(1499, 'x');
  zenity.AnswerSingle(longPath);
  panel.ClickButton("Choose Folder...##dst");
  EXPECT_EQ(std::string(state.destinationBuffer), longPath.substr(0, 1023));
}

}  // namespace
}  // namespace quillmere
