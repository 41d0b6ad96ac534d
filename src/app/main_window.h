// The main window in Qt: every control of the window's layout, the Qt adapters
// over them, the buttons bound to the window's controller (MainWindowController,
// which holds the values and the click handlers), start-up and closing.
#pragma once

#include <QtWidgets/QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_controller.h"
#include "app/window_layout.h"
#include "conversion/store_service.h"
#include "engine/core/file_system.h"
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
class ReplaceableFileSystem;
class ReplaceableFolderDialog;
class ReplaceableMessageBox;
class ReplaceableOpenFileDialog;

class MainWindow : public QWidget {
 public:
  // Client area in pixels at 96 dots per inch.
  static constexpr int kClientWidth = layout::kClientWidth / 15;
  static constexpr int kClientHeight = layout::kClientHeight / 15;

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The window-side interfaces over the controls, for the operations.
  platform::Grid& grid();                       // the file list
  platform::Label& countLabel();                // "N files"
  platform::Label& frameCaption();              // the progress frame's caption
  platform::Label& currentFolderLabel();        // the folder being filled
  platform::Label& messageCountLabel();         // "Message 0 (of 0)"
  platform::ProgressBar& overallProgressBar();  // overall progress
  platform::ProgressBar& fileProgressBar();     // current file progress
  platform::Button& convertButton();            // "Convert Messages"
  platform::Desktop& desktop();
  platform::MessageBox& messageBox();  // the replacement, else the Qt one
  platform::OpenFileDialog& openFileDialog();
  platform::FolderDialog& folderDialog();
  core::FileSystem& fileSystem();
  // The window's click handlers and what its last run did.
  MainWindowController& controller() { return *controller_; }

  // Replaceable parts (nullptr or an empty function restores the default). The
  // replacements must outlive their use by the window. Without a store service
  // every conversion run fails its preparation.
  void setMessageBox(platform::MessageBox* messages);
  void setOpenFileDialog(platform::OpenFileDialog* dialog);
  void setFolderDialog(platform::FolderDialog* dialog);
  void setFileSystem(core::FileSystem* fileSystem);
  void setStoreService(conversion::StoreService* store);
  // What asks where to save the last run's report, given the suggested path;
  // "" cancels. By default the save-file dialog.
  void setReportPathChooser(std::function<std::string(const std::string& suggested)> chooser);
  // What ends the program: by default the application quits, at once.
  void setExitHandler(std::function<void()> handler);
  // Runs once when the program really ends (not with a replaced exit handler),
  // before the process goes; it must not raise.
  void setEndHook(std::function<void()> hook);

  // Shows the window centred on its screen, focus on "Add MSG File(s)...".
  void showCentred();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Drops onto the file list (its viewport's events come here).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void endProgram();
  // Runs a click handler of the controller, unless the program has ended.
  void click(void (MainWindowController::*handler)());
  void exitClicked();
  // "Convert Messages": the run, then "Save Report..." shown when one ended.
  void convertClicked();
  void saveReportClicked();
  // Whether a drop would be taken now: the list buttons are enabled (no run
  // is going) and no click handler is running.
  bool takesDrops() const;

  QPushButton* addFilesButton_ = nullptr;
  QPushButton* addFolderButton_ = nullptr;
  QPushButton* clearListButton_ = nullptr;
  QPushButton* convertButton_ = nullptr;
  QPushButton* exitButton_ = nullptr;
  QPushButton* saveReportButton_ = nullptr;  // hidden until a run has ended
  QLabel* fileCountLabel_ = nullptr;
  QLabel* currentFolderLabel_ = nullptr;
  QLabel* messageCountLabel_ = nullptr;
  QGroupBox* progressFrame_ = nullptr;
  QProgressBar* overallProgressBar_ = nullptr;
  QProgressBar* fileProgressBar_ = nullptr;
  QTableWidget* fileList_ = nullptr;
  QWidget* firstTabStop_ = nullptr;  // where the focus starts

  std::unique_ptr<QtGrid> grid_;
  std::unique_ptr<QtLabel> countLabel_, currentFolder_, messageCount_;
  std::unique_ptr<QtFrameCaption> frameCaption_;
  std::unique_ptr<QtProgressBar> overallProgress_, fileProgress_;
  std::unique_ptr<QtButton> add_, addFolder_, clear_, convert_, exit_;
  std::unique_ptr<QtDesktop> desktop_;
  std::unique_ptr<QtMessageBox> qtMessages_;
  std::unique_ptr<QtOpenFileDialog> qtOpenDialog_;
  std::unique_ptr<QtFolderDialog> qtFolderDialog_;
  std::unique_ptr<conversion::StoreService> noStore_;

  std::unique_ptr<ReplaceableMessageBox> messages_;
  std::unique_ptr<ReplaceableOpenFileDialog> openDialog_;
  std::unique_ptr<ReplaceableFolderDialog> folderDialog_;
  std::unique_ptr<ReplaceableFileSystem> fileSystem_;
  std::unique_ptr<MainWindowController> controller_;

  std::function<std::string(const std::string&)> reportPathChooser_;
  std::function<void()> exitHandler_;
  std::function<void()> endHook_;
  bool ended_ = false;
  int running_ = 0;  // click handlers running
};

}  // namespace parvane::app
