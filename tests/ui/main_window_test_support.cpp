// Shared pieces of the window tests; see main_window_test_support.h.
#include "tests/ui/main_window_test_support.h"

#include <QDropEvent>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>

#include "ui/main/fonts.h"
#include "ui/main/result_columns.h"

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    application_ = std::make_unique<QApplication>(argc_, argv_);
    application_->setQuitOnLastWindowClosed(false);
    CreateSharedFonts();
  }
  void TearDown() override {
    ReleaseSharedFonts();
    application_.reset();
  }

 private:
  int argc_ = 1;
  char name_[16] = "ui_window_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Takes the next queued answer of a chooser; false when none is left or it is empty (cancel).
template <typename Answer>
bool TakeAnswer(std::deque<Answer>& answers, Answer& answer) {
  if (answers.empty()) return false;
  answer = answers.front();
  answers.pop_front();
  return !answer.empty();
}

}  // namespace

void MainWindowTest::SetUp() {
  CoreTest::SetUp();
  MainWindowDialogs dialogs;
  dialogs.showMessage = [this](const std::string& title, const std::string& text, MessageIcon icon) {
    messages.push_back({title, text, icon});
  };
  dialogs.chooseImageFiles = [this](std::vector<std::string>& paths) {
    ++fileChooserCalls;
    return TakeAnswer(fileAnswers, paths);
  };
  dialogs.chooseFolder = [this](std::string& folder) {
    ++folderChooserCalls;
    return TakeAnswer(folderAnswers, folder);
  };
  dialogs.openFolder = [this](const std::string& folder) { openedFolders.push_back(folder); };
  dialogs.beep = [this]() { ++beeps; };
  dialogs.askYesNo = [this](const std::string&, const std::string& text) {
    questions.push_back(text);
    bool yes = false;
    if (!yesNoAnswers.empty()) yes = yesNoAnswers.front(), yesNoAnswers.pop_front();
    return yes;
  };
  SetMainWindowDialogs(dialogs);
  SetCompareWindowOpener([this](int index) { compareOpens.push_back(index); });
  SetGuideWindowOpener([this]() { ++guideOpens; });
  SetProfileDevelopmentOpener([this](bool resume) { profileDevelopmentOpens.push_back(resume); });
  SetBenchmarkRunsOpener([this]() { ++benchmarkRunsOpens; });
  SetBenchmarkRunActiveQuery([this]() { return benchmarkRunActive; });
  SetBenchmarkRunPausedQuery([this]() { return benchmarkRunPaused; });
  window = std::make_unique<MainWindow>();
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
}

void MainWindowTest::TearDown() {
  window.reset();
  SetMainWindowDialogs({}), SetCompareWindowOpener({}), SetGuideWindowOpener({}), SetProfileDevelopmentOpener({});
  SetBenchmarkRunsOpener({}), SetBenchmarkRunActiveQuery({}), SetBenchmarkRunPausedQuery({});
  CoreTest::TearDown();
}

bool MainWindowTest::DropPaths(const std::vector<std::string>& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
  data.setUrls(urls);
  const QPointF middle(window->width() / 2.0, window->height() / 2.0);
  QDragEnterEvent enter(middle.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  enter.setAccepted(false);
  QCoreApplication::sendEvent(window.get(), &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  drop.setAccepted(false);
  QCoreApplication::sendEvent(window.get(), &drop);
  return drop.isAccepted();
}

std::vector<std::string> MainWindowTest::ListLines(int controlId) const {
  std::vector<std::string> lines;
  // The results list's rows: their shown cells in the line's order, joined
  // as the line joins its parts.
  if (auto* table = qobject_cast<QTableWidget*>(window->ControlById(controlId))) {
    for (int row = 0; row < table->rowCount(); ++row) {
      QStringList cells;
      for (std::size_t c = 0; c < kResultColumnCount; ++c) {
        const QString text =
            table->item(row, static_cast<int>(ResultColumnPosition(static_cast<ResultColumn>(c))))->text();
        if (!text.isEmpty()) cells << text;
      }
      lines.push_back(cells.join(QStringLiteral("   |   ")).toStdString());
    }
    return lines;
  }
  auto* list = qobject_cast<QListWidget*>(window->ControlById(controlId));
  for (int row = 0; list && row < list->count(); ++row) lines.push_back(list->item(row)->text().toStdString());
  return lines;
}

std::string ControlText(const QWidget* control) {
  if (const auto* label = qobject_cast<const QLabel*>(control)) return label->text().toStdString();
  if (const auto* edit = qobject_cast<const QLineEdit*>(control)) return edit->text().toStdString();
  if (const auto* box = qobject_cast<const QPlainTextEdit*>(control)) return box->toPlainText().toStdString();
  return "";
}
