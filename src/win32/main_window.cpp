#include "win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/replaceable_parts.h"
#include "filelist/file_list.h"
#include "platform/win32_text.h"
#include "win32/controls.h"
#include "win32/dialogs.h"
#include "win32/grid.h"

namespace parvane::win32 {

namespace {

// The control's rectangle in the window's client area, in pixels. Containers
// do not exist as windows here: each control is a child of the main window.
RECT Place(const app::layout::Control& control) {
  const app::layout::Twips place = app::layout::InWindow(control);
  const int x = TwipsToPixels(place.left), y = TwipsToPixels(place.top);
  return RECT{x, y, x + TwipsToPixels(place.width), y + TwipsToPixels(place.height)};
}

// The identifier of each control that is a window of its own.
struct NamedId {
  std::string_view name;
  ControlId id;
};
constexpr NamedId kIds[] = {
    {"addFilesButton", kIdAddFiles},
    {"addFolderButton", kIdAddFolder},
    {"clearListButton", kIdClearList},
    {"convertButton", kIdConvert},
    {"exitButton", kIdExit},
    {"fileList", kIdFileList},
    {"titleLabel", kIdTitle},
    {"fileCountLabel", kIdFileCount},
    {"progressFrame", kIdProgressFrame},
    {"currentFolderLabel", kIdCurrentFolder},
    {"messageCountLabel", kIdMessageCount},
    {"fileProgressCaption", kIdFileProgressCaption},
    {"fileProgressBar", kIdFileProgress},
    {"overallProgressCaption", kIdOverallProgressCaption},
    {"overallProgressBar", kIdOverallProgress},
    {"saveReportButton", kIdSaveReport},
};

constexpr int IdOf(std::string_view name) {
  for (const NamedId& named : kIds) {
    if (named.name == name) return named.id;
  }
  return 0;
}

// Shapes and pictures are painted on the window's background.
constexpr bool IsPainted(const app::layout::Control& control) {
  return control.kind == app::layout::Kind::Shape || control.kind == app::layout::Kind::Picture;
}

constexpr bool EveryWindowHasAnId() {
  for (const app::layout::Control& control : app::layout::kControls) {
    if (!IsPainted(control) && IdOf(control.name) == 0) return false;
  }
  return true;
}
static_assert(EveryWindowHasAnId());

// The layout of the control with that identifier; nullptr for none.
const app::layout::Control* LayoutOf(int id) {
  for (const NamedId& named : kIds) {
    if (named.id == id) return app::layout::Find(named.name);
  }
  return nullptr;
}

HFONT MakeFont(app::layout::FontStyle style) {
  const app::layout::Font tahoma = app::layout::FontOf(style);
  const int height = -static_cast<int>(tahoma.points * 96.0 / 72.0 + 0.5);
  return CreateFontW(height, 0, 0, 0, tahoma.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

void RegisterWindowClass(HINSTANCE instance, HICON big, HICON small) {
  WNDCLASSEXW windowClass{};
  if (GetClassInfoExW(instance, MainWindow::kClassName, &windowClass)) return;
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = DefWindowProcW;  // replaced per window in the constructor
  windowClass.hInstance = instance;
  windowClass.hIcon = big;
  windowClass.hIconSm = small;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = MainWindow::kClassName;
  RegisterClassExW(&windowClass);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, conversion::StoreService& store,
                       core::FileSystem& fileSystem, std::function<void()> end)
    : instance_(instance), end_(std::move(end)), store_(store), fileSystem_(fileSystem) {
  // The common controls (version 6 through the manifest) before any control exists.
  InitCommonControls();

  bigIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON),
                                           GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  RegisterWindowClass(instance_, bigIcon_, smallIcon_);
  font_ = MakeFont(app::layout::FontStyle::Body);
  titleFont_ = MakeFont(app::layout::FontStyle::Title);

  // Fixed single border: a caption, the system menu and a minimise box; no sizing.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const std::wstring title = platform::Utf8ToWide(filelist::kAppTitle);
  window_ = CreateWindowExW(0, kClassName, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                            instance_, nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::Procedure));
  if (bigIcon_) SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  if (smallIcon_) SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

  createControls();
  // Only the file list takes what is dropped from the desktop.
  DragAcceptFiles(grid_->handle(), TRUE);
  SetWindowSubclass(grid_->handle(), &MainWindow::FileListProcedure, 0,
                    reinterpret_cast<DWORD_PTR>(this));

  nativeMessages_ = std::make_unique<Win32MessageBox>(window_);
  nativeOpenDialog_ = std::make_unique<Win32OpenFileDialog>(window_);
  nativeFolderDialog_ = std::make_unique<Win32FolderDialog>();
  messages_ = std::make_unique<app::ReplaceableMessageBox>(*nativeMessages_);
  openDialog_ = std::make_unique<app::ReplaceableOpenFileDialog>(*nativeOpenDialog_);
  folderDialog_ = std::make_unique<app::ReplaceableFolderDialog>(*nativeFolderDialog_);
  desktop_ = std::make_unique<Win32Desktop>(window_);
  controller_ = std::make_unique<app::MainWindowController>(
      app::MainWindowControls{
          .fileList = *grid_,
          .fileCountLabel = *fileCountLabel_,
          .progressFrame = *frameCaption_,
          .currentFolderLabel = *currentFolderLabel_,
          .overallProgressBar = *overallProgressBar_,
          .fileProgressBar = *fileProgressBar_,
          .addFilesButton = *addFilesButton_,
          .addFolderButton = *addFolderButton_,
          .clearListButton = *clearListButton_,
          .convertButton = *convertButton_,
          .exitButton = *exitButton_,
          .messageBox = *messages_,
          .openFileDialog = *openDialog_,
          .folderDialog = *folderDialog_,
          .desktop = *desktop_,
          .fileSystem = fileSystem_,
      },
      store_);
  controller_->load();
}

MainWindow::~MainWindow() {
  if (grid_) RemoveWindowSubclass(grid_->handle(), &MainWindow::FileListProcedure, 0);
  if (window_ != nullptr) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  if (font_) DeleteObject(font_);
  if (titleFont_) DeleteObject(titleFont_);
  for (const auto& made : brushes_) DeleteObject(made.second);
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

HWND MainWindow::createControl(const app::layout::Control& control) {
  using app::layout::Kind;
  const int id = IdOf(control.name);
  const RECT r = Place(control);
  HFONT font = control.font == app::layout::FontStyle::Title ? titleFont_ : font_;
  if (control.kind == Kind::Grid) {
    grid_ = std::make_unique<Win32Grid>(window_, id, r, font);
    return grid_->handle();
  }
  const wchar_t* windowClass = WC_STATICW;
  DWORD style = control.tabIndex >= 0 ? WS_TABSTOP : 0;
  switch (control.kind) {
    case Kind::Label:
      // Captions are shown as they are: no '&' marks an access key.
      style |= SS_NOPREFIX;
      if (control.align == app::layout::Align::Centre) {
        style |= SS_CENTER;
      } else if (control.align == app::layout::Align::Right) {
        style |= SS_RIGHT;
      } else {
        style |= control.wraps ? SS_LEFT : SS_LEFTNOWORDWRAP;
      }
      break;
    case Kind::Button:
      windowClass = WC_BUTTONW;
      style |= BS_PUSHBUTTON;
      break;
    case Kind::Frame:
      windowClass = WC_BUTTONW;
      style |= BS_GROUPBOX;
      break;
    case Kind::ProgressBar:
      windowClass = PROGRESS_CLASSW;
      break;
    case Kind::Shape:
    case Kind::Picture:
    case Kind::Grid:
      return nullptr;
  }
  const std::wstring caption = platform::Utf8ToWide(control.caption);
  HWND handle = CreateWindowExW(0, windowClass, caption.c_str(), WS_CHILD | WS_VISIBLE | style,
                                r.left, r.top, r.right - r.left, r.bottom - r.top, window_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_,
                                nullptr);
  SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (!control.enabled) EnableWindow(handle, FALSE);
  return handle;
}

void MainWindow::createControls() {
  // In table order, which is the order of the keyboard focus among the tab stops.
  for (const app::layout::Control& control : app::layout::kControls) {
    if (!IsPainted(control)) createControl(control);
  }
  ShowWindow(createControl(app::layout::kSaveReportButton), SW_HIDE);
  const auto button = [this](ControlId id) { return std::make_unique<Win32Button>(control(id)); };
  const auto label = [this](ControlId id) { return std::make_unique<Win32Label>(control(id)); };
  const auto bar = [this](ControlId id) { return std::make_unique<Win32ProgressBar>(control(id)); };
  addFilesButton_ = button(kIdAddFiles);
  addFolderButton_ = button(kIdAddFolder);
  clearListButton_ = button(kIdClearList);
  convertButton_ = button(kIdConvert);
  exitButton_ = button(kIdExit);
  fileCountLabel_ = label(kIdFileCount);
  currentFolderLabel_ = label(kIdCurrentFolder);
  frameCaption_ = std::make_unique<Win32FrameCaption>(control(kIdProgressFrame));
  overallProgressBar_ = bar(kIdOverallProgress);
  fileProgressBar_ = bar(kIdFileProgress);
}

HBRUSH MainWindow::brush(app::layout::Colour colour) {
  const COLORREF wanted = ToColorRef(colour);
  for (const auto& [rgb, solid] : brushes_) {
    if (rgb == wanted) return solid;
  }
  brushes_.emplace_back(wanted, CreateSolidBrush(wanted));
  return brushes_.back().second;
}

void MainWindow::setMessageBox(platform::MessageBox* messages) { messages_->replace(messages); }
void MainWindow::setOpenFileDialog(platform::OpenFileDialog* dialog) {
  openDialog_->replace(dialog);
}
void MainWindow::setFolderDialog(platform::FolderDialog* dialog) {
  folderDialog_->replace(dialog);
}

void MainWindow::showCentred() {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT bounds{};
  GetWindowRect(window_, &bounds);
  const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
  SetWindowPos(window_, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  SetFocus(control(static_cast<ControlId>(IdOf(app::layout::FirstTabStop().name))));
}

int MainWindow::run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) Win32Desktop::Dispatch(window_, message);
  return static_cast<int>(message.wParam);
}

void MainWindow::paintBands(HDC dc) {
  for (const app::layout::Control& control : app::layout::kControls) {
    if (!IsPainted(control) || !control.background) continue;
    const RECT r = Place(control);
    FillRect(dc, &r, brush(*control.background));
    if (control.kind != app::layout::Kind::Shape || !control.border) continue;
    HPEN pen = CreatePen(PS_SOLID, 1, ToColorRef(*control.border));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
  }
}

namespace {

// Counts a handler while it runs (it may yield to the message loop).
class Handling {
 public:
  explicit Handling(int& count) : count_(count) { ++count_; }
  ~Handling() { --count_; }
  Handling(const Handling&) = delete;
  Handling& operator=(const Handling&) = delete;

 private:
  int& count_;
};

}  // namespace

bool MainWindow::takesDrops() const {
  return !ended_ && handling_ == 0 && IsWindowEnabled(control(kIdAddFiles)) &&
         IsWindowEnabled(control(kIdAddFolder));
}

void MainWindow::onDropFiles(HDROP drop) {
  std::vector<std::string> paths;
  if (takesDrops()) {
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    paths.reserve(count);
    for (UINT i = 0; i < count; ++i) {
      std::wstring path(DragQueryFileW(drop, i, nullptr, 0), L'\0');
      if (path.empty()) continue;
      DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size() + 1));
      paths.push_back(platform::WideToUtf8(path));
    }
  }
  // The drop's memory is freed before the walk yields to the message loop.
  DragFinish(drop);
  if (paths.empty()) return;
  Handling handling(handling_);
  controller_->addDropped(paths);
}

LRESULT CALLBACK MainWindow::FileListProcedure(HWND view, UINT message, WPARAM wParam,
                                               LPARAM lParam, UINT_PTR, DWORD_PTR self) {
  if (message == WM_DROPFILES) {
    reinterpret_cast<MainWindow*>(self)->onDropFiles(reinterpret_cast<HDROP>(wParam));
    return 0;
  }
  return DefSubclassProc(view, message, wParam, lParam);
}

void MainWindow::onCommand(int id) {
  if (ended_) return;
  Handling handling(handling_);
  switch (id) {
    case kIdAddFiles:
      controller_->addFiles();
      break;
    case kIdAddFolder:
      controller_->addFolder();
      break;
    case kIdClearList:
      controller_->clearList();
      break;
    case kIdConvert:
      convert();
      break;
    case kIdSaveReport:
      saveReport();
      break;
    case kIdExit:
      if (controller_->askToExit()) endProgram();
      break;
    default:
      break;
  }
}

void MainWindow::convert() {
  ShowWindow(control(kIdSaveReport), SW_HIDE);
  controller_->convert();
  if (!ended_ && controller_->lastRun()) ShowWindow(control(kIdSaveReport), SW_SHOWNA);
}

void MainWindow::saveReport() {
  if (handling_ > 1) return;  // not inside another handler that yields
  const std::string path = askReportPath(controller_->suggestedReportPath());
  if (!path.empty()) controller_->saveReport(path);
}

std::string MainWindow::askReportPath(const std::string& suggested) {
  if (reportPathChooser_) return reportPathChooser_(suggested);
  std::wstring name = platform::Utf8ToWide(suggested);
  name.resize(32768, L'\0');
  const std::wstring title = platform::Utf8ToWide(app::layout::kSaveReportTitle);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = L"JSON Lines (*.jsonl)\0*.jsonl\0All files (*.*)\0*.*\0";
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = static_cast<DWORD>(name.size());
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = L"jsonl";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&dialog)) return {};
  return platform::WideToUtf8(name.c_str());
}

void MainWindow::endProgram() {
  if (ended_) return;
  ended_ = true;
  if (end_) {
    end_();
    return;
  }
  // The process ends at once, also inside a click that yields.
  std::fflush(nullptr);
  ExitProcess(0);
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) onCommand(LOWORD(wParam));
      return 0;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (grid_ && grid_->onNotify(*reinterpret_cast<const NMHDR*>(lParam), result)) return result;
      break;
    }
    case WM_ERASEBKGND: {
      RECT client{};
      GetClientRect(window_, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
      paintBands(reinterpret_cast<HDC>(wParam));
      return 1;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const auto* control = LayoutOf(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
      const auto background = control ? app::layout::Background(*control) : std::nullopt;
      SetTextColor(dc, control && control->text ? ToColorRef(*control->text)
                                                : GetSysColor(COLOR_BTNTEXT));
      if (background) {
        SetBkColor(dc, ToColorRef(*background));
        return reinterpret_cast<LRESULT>(brush(*background));
      }
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CTLCOLORBTN: {
      // A button standing on a coloured container ("Exit" on the white strip).
      const auto* control = LayoutOf(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
      if (const auto background = control ? app::layout::Background(*control) : std::nullopt) {
        return reinterpret_cast<LRESULT>(brush(*background));
      }
      break;
    }
    case WM_SETCURSOR:
      if (desktop_ && desktop_->busy()) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      endProgram();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace parvane::win32
