// Find and replace over the preview's script.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include "platform/dialogs.h"
#include "support/scripted_dialogs.h"
#include "preview/form4.h"
#include "preview/form5.h"

using testing_support::UiTestEnvironment;
using transfer::ReplaceAll;

TEST(ReplaceAll, NonOverlappingLeftToRightAndNeverRescanned) {
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAll("banana", "a", "aa"), "baanaanaa");
  EXPECT_EQ(ReplaceAll("`a` TEXT, `b` text, `c` TEXT)", "TEXT", "VARCHAR(255)"),
            "`a` VARCHAR(255), `b` text, `c` VARCHAR(255))");
  EXPECT_EQ(ReplaceAll("abc", "x", "y"), "abc");
}

TEST(StepwiseReplace, AnySliceSizeGivesWhatOnePassGives) {
  struct Case {
    QByteArray text, find, replacement;
  } cases[] = {{"aaaaaaa", "aa", "b"},
               {"caf\xc3\xa9 \xc3\xa9t\xc3\xa9", "\xc3\xa9", "e"},
               {"banana banana", "ana", "[ANA]"},
               {"x TEXT, y TEXT\r\nz TEXT", "TEXT", "VARCHAR(255)"},
               {"abcabcab", "cab", ""},
               {"no match here", "zz", "y"},
               {"TEXT", "TEXT", "t"}};
  for (const auto& c : cases) {
    const QByteArray whole = ReplaceAll(QString::fromUtf8(c.text), QString::fromUtf8(c.find),
                                        QString::fromUtf8(c.replacement))
                                 .toUtf8();
    for (qsizetype slice = 1; slice <= c.text.size() + 1; ++slice) {
      transfer::StepwiseReplace replace(c.text, c.find, c.replacement);
      int steps = 0;
      while (replace.step(slice)) ++steps;
      EXPECT_EQ(replace.changed(), whole != c.text);
      EXPECT_EQ(replace.take(), whole) << c.text.toStdString() << " slice " << slice;
      // Each slice moves on, so the text is done in about size / slice steps.
      EXPECT_LE(steps, c.text.size() / slice + 1);
    }
  }
}

namespace {

class FindAndReplace : public ::testing::Test {
 protected:
  UiTestEnvironment env;
  Form4 preview;

  // Opens Form5 from the preview and runs the steps while it is open.
  void withDialog(std::function<void(Form5&)> steps) {
    env.dialogs().modalScripts.push_back([steps](QDialog& d) {
      steps(static_cast<Form5&>(d));
      return 0;
    });
    preview.PushButton1_Click();
  }
};

}  // namespace

TEST_F(FindAndReplace, ReplaceAllWritesThePreviewBackAndCloses) {
  preview.AppendCommand("CREATE TABLE `t` (`a` TEXT, `b` text)");
  preview.AppendCommand("INSERT INTO `t` VALUES ('TEXT')");
  bool visible = true;
  withDialog([&](Form5& f) {
    EXPECT_EQ(f.windowTitle(), "Find and Replace");
    EXPECT_TRUE(f.Text1->text().isEmpty());
    f.Text1->setText("TEXT");
    f.Text2->setText("VARCHAR(255)");
    f.PushButton3->click();
    visible = f.isVisible();
  });
  EXPECT_FALSE(visible);
  EXPECT_EQ(preview.Script(),
            "CREATE TABLE `t` (`a` VARCHAR(255), `b` text)\r\nINSERT INTO `t` VALUES "
            "('VARCHAR(255)')\r\n");
  EXPECT_TRUE(env.dialogs().messages().empty());
}

TEST_F(FindAndReplace, EmptyBoxesAskForBothAndKeepTheDialogOpen) {
  preview.AppendCommand("aaa");
  withDialog([&](Form5& f) {
    f.Text1->setText("a");
    f.PushButton3_Click();
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.Text1->text(), "a");
    f.Text1->clear();
    f.Text2->setText("b");
    f.PushButton3_Click();
    EXPECT_TRUE(f.isVisible());
    f.PushButton1_Click();  // Cancel
    EXPECT_FALSE(f.isVisible());
  });
  auto messages = env.dialogs().messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, "Please fill both textboxes.");
  EXPECT_EQ(messages[0].caption, env.app().title());
  EXPECT_EQ(preview.Script(), "aaa\r\n");
}
