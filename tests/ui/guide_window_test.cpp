// The guide window offscreen, opened through the main window's command 2201
// as start-up installs it: one window at most, raised on a second request;
// the exact text, read-only but selectable and copyable; font, margins and
// the resize rule with its 100-pixel minimum.
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>

#include "tests/ui/main_window_test_support.h"
#include "ui/compare/compare_window.h"
#include "ui/guide/guide_text.h"
#include "ui/guide/guide_window.h"
#include "ui/main/window_names.h"

namespace {

int GuideWindowsShown() {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QString::fromUtf8(kGuideWindowName) && widget->isVisible()) ++count;
  }
  return count;
}

class GuideWindowTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    InstallCompareAndGuideWindows(window.get());
  }
  void TearDown() override {
    window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    MainWindowTest::TearDown();
  }

  GuideWindow* OpenFromMenu() {
    window->DispatchCommand(2201);
    GuideWindow* guide = ActiveGuideWindow();
    if (guide) {
      EXPECT_TRUE(QTest::qWaitForWindowExposed(guide));
    }
    return guide;
  }
};

TEST_F(GuideWindowTest, ShowsTheWholeTextInTheDescribedWindow) {
  GuideWindow* guide = OpenFromMenu();
  ASSERT_NE(guide, nullptr);
  EXPECT_EQ(guide->objectName(), QString::fromUtf8(kGuideWindowName));
  EXPECT_TRUE(guide->isWindow());
  EXPECT_EQ(guide->parentWidget(), window.get());
  EXPECT_EQ(guide->windowTitle(), QString::fromUtf8("Anleitung & Erkl\u00e4rung \u2013 Orvel JPEG Optimizer"));
  EXPECT_EQ(guide->size(), QSize(1060, 800));

  QTextEdit* text = guide->TextControl();
  QString expected = QString::fromUtf8(kGuideText);
  expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  EXPECT_EQ(text->toPlainText(), expected);
  EXPECT_EQ(text->document()->blockCount(), 27);
  EXPECT_EQ(text->font().pixelSize(), 23);
  EXPECT_EQ(text->font().weight(), QFont::Normal);
  const QTextFrameFormat frame = text->document()->rootFrame()->frameFormat();
  EXPECT_EQ(frame.leftMargin(), 14);
  EXPECT_EQ(frame.rightMargin(), 14);
  EXPECT_EQ(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(text->geometry(), QRect(16, 16, guide->width() - 32, guide->height() - 32));
  // The window hands its focus to the text.
  EXPECT_EQ(guide->focusProxy(), text);
}

TEST_F(GuideWindowTest, TextIsReadOnlyButSelectableCopyableAndScrollable) {
  GuideWindow* guide = OpenFromMenu();
  ASSERT_NE(guide, nullptr);
  QTextEdit* text = guide->TextControl();
  const QString before = text->toPlainText();
  guide->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(guide));
  text->setFocus();
  QTest::keyClicks(text, "abc");
  QTest::keyClick(text, Qt::Key_Delete);
  QTest::keyClick(text, Qt::Key_Backspace);
  EXPECT_EQ(text->toPlainText(), before);
  EXPECT_TRUE(text->isReadOnly());

  // Selection with the keyboard, then copy.
  QTest::keyClick(text, Qt::Key_Home, Qt::ControlModifier);
  QTest::keyClick(text, Qt::Key_End, Qt::ShiftModifier);
  EXPECT_EQ(text->textCursor().selectedText().left(20), QStringLiteral("Orvel JPEG Optimizer"));
  text->copy();
  EXPECT_TRUE(QApplication::clipboard()->text().startsWith(QStringLiteral("Orvel JPEG Optimizer")));
  text->selectAll();
  text->copy();
  EXPECT_EQ(QApplication::clipboard()->text(), before);

  guide->resize(500, 300);
  QCoreApplication::processEvents();
  QScrollBar* bar = text->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  bar->setValue(bar->maximum());
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(GuideWindowTest, SecondRequestRaisesTheExistingWindow) {
  GuideWindow* guide = OpenFromMenu();
  ASSERT_NE(guide, nullptr);
  guide->showMinimized();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->DispatchCommand(2201);
  EXPECT_EQ(ActiveGuideWindow(), guide);
  EXPECT_EQ(GuideWindowsShown(), 1);
  EXPECT_FALSE(guide->isMinimized());
  EXPECT_TRUE(QTest::qWaitForWindowActive(guide));

  // Closed, it is gone; the next request opens a new one.
  QPointer<GuideWindow> guard(guide);
  guide->close();
  EXPECT_EQ(ActiveGuideWindow(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull());
  EXPECT_NE(OpenFromMenu(), nullptr);
  EXPECT_EQ(GuideWindowsShown(), 1);
}

TEST_F(GuideWindowTest, ShrinkingKeepsTheTextAtLeast100Pixels) {
  GuideWindow* guide = OpenFromMenu();
  ASSERT_NE(guide, nullptr);
  guide->resize(120, 90);
  QCoreApplication::processEvents();
  EXPECT_EQ(guide->TextControl()->geometry(), QRect(16, 16, 100, 100));
  guide->resize(700, 400);
  QCoreApplication::processEvents();
  EXPECT_EQ(guide->TextControl()->geometry(), QRect(16, 16, 668, 368));
}

}  // namespace
