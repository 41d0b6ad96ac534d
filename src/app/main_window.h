// The main window frmStep1: every control at its fixed place, the bindings of
// the buttons to the operations, start-up and exit.
#pragma once

#include <QtWidgets/QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace parvane::app {

class QtButton;
class QtDesktop;
class QtFolderDialog;
class QtFrameCaption;
class QtGrid;
class QtLabel;
class QtMessageBox;
class QtOpenFileDialog;
class QtProgressBar;

inline constexpr const char* kExitQuestion = "Are you sure you want to exit now?";

// Asks kExitQuestion (Yes/No, question icon, the application title); true on Yes.
bool ConfirmExit(platform::MessageBox& messages);

class MainWindow : public QWidget {
 public:
  // Client area in pixels at 96 dots per inch (8145 x 6750 twips).
  static constexpr int kClientWidth = 543;
  static constexpr int kClientHeight = 450;

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The window-side interfaces over the controls, for the operations.
  platform::Grid& grid();                 // grdFiles1
  platform::Label& countLabel();          // lblCount1
  platform::Label& frameCaption();        // FrameConversion's caption
  platform::Label& currentLabel();        // LblCurrentDBX
  platform::Label& progressLabel();       // LblProgessCurrent
  platform::ProgressBar& progressBar1();  // overall progress
  platform::ProgressBar& progressBar2();  // current file progress
  platform::Button& convertButton();      // CmdExtractDBX
  platform::Desktop& desktop();
  platform::MessageBox& messageBox();       // the injected one, else the Qt one
  platform::OpenFileDialog& openFileDialog();
  platform::FolderDialog& folderDialog();
  const platform::FileSystem& fileSystem();
  // The conversion run's working list; one empty entry at start and after a clear.
  std::vector<std::string>& folderList() { return folderList_; }

  // Replaceable parts (nullptr or an empty function restores the default). The
  // replacements must outlive their use by the window.
  void setMessageBox(platform::MessageBox* messages);
  void setOpenFileDialog(platform::OpenFileDialog* dialog);
  void setFolderDialog(platform::FolderDialog* dialog);
  void setFileSystem(const platform::FileSystem* fileSystem);
  void setConvertHandler(std::function<void()> handler);
  // What ends the program: by default the application quits, at once.
  void setExitHandler(std::function<void()> handler);

  // The click handlers, as the buttons call them.
  void cmdAddClick();
  void cmdAddFolderClick();
  void cmdClear1Click();
  void cmdExtractDBXClick();
  void cmdEndClick();

  // Shows the window centred on its screen, focus on cmdAdd.
  void showCentred();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void endProgram();
  // Runs a click handler; a failure that escapes it is shown as "code:description".
  void guarded(const std::function<void()>& handler);

  QPushButton* cmdAdd_ = nullptr;
  QPushButton* cmdAddFolder_ = nullptr;
  QPushButton* cmdClear1_ = nullptr;
  QPushButton* cmdExtractDBX_ = nullptr;
  QPushButton* cmdEnd_ = nullptr;
  QLabel* lblCount1_ = nullptr;
  QLabel* lblCurrentDBX_ = nullptr;
  QLabel* lblProgessCurrent_ = nullptr;
  QGroupBox* frameConversion_ = nullptr;
  QProgressBar* progressBar1_ = nullptr;
  QProgressBar* progressBar2_ = nullptr;
  QTableWidget* grdFiles1_ = nullptr;

  std::unique_ptr<QtGrid> grid_;
  std::unique_ptr<QtLabel> countLabel_, currentLabel_, progressLabel_;
  std::unique_ptr<QtFrameCaption> frameCaption_;
  std::unique_ptr<QtProgressBar> bar1_, bar2_;
  std::unique_ptr<QtButton> convert_;
  std::unique_ptr<QtDesktop> desktop_;
  std::unique_ptr<QtMessageBox> qtMessages_;
  std::unique_ptr<QtOpenFileDialog> qtOpenDialog_;
  std::unique_ptr<QtFolderDialog> qtFolderDialog_;
  std::unique_ptr<platform::FileSystem> posixFileSystem_;

  platform::MessageBox* messages_ = nullptr;
  platform::OpenFileDialog* openDialog_ = nullptr;
  platform::FolderDialog* folderDialog_ = nullptr;
  const platform::FileSystem* fileSystem_ = nullptr;
  std::function<void()> convertHandler_;
  std::function<void()> exitHandler_;
  std::vector<std::string> folderList_;
  bool ended_ = false;
  int running_ = 0;  // click handlers running
};

}  // namespace parvane::app
