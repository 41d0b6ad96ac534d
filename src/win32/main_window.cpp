#include "win32/main_window.h"

#include <commctrl.h>

#include <cstdio>
#include <utility>

#include "filelist/file_list.h"
#include "win32/controls.h"
#include "win32/dialogs.h"
#include "win32/grid.h"

namespace parvane::win32 {

namespace {

// A rectangle in twips as pixels, offset by a container's position (twips).
RECT Place(int left, int top, int width, int height, int originLeft = 0, int originTop = 0) {
  const int x = TwipsToPixels(originLeft + left), y = TwipsToPixels(originTop + top);
  return RECT{x, y, x + TwipsToPixels(width), y + TwipsToPixels(height)};
}

// The frame and the bottom strip, whose controls are placed relative to them.
constexpr int kFrameLeft = 240, kFrameTop = 3480;
constexpr int kStripLeft = 240, kStripTop = 6240;

HFONT MakeFont(double points, bool bold) {
  const int height = -static_cast<int>(points * 96.0 / 72.0 + 0.5);
  return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

// Forwards to a replacement box when one is set, else to the native one.
class ForwardingMessageBox : public platform::MessageBox {
 public:
  ForwardingMessageBox(platform::MessageBox& native, platform::MessageBox*& replacement)
      : native_(native), replacement_(replacement) {}
  platform::MessageAnswer show(const std::string& text, platform::MessageButtons buttons,
                               platform::MessageIcon icon, const std::string& title) override {
    return (replacement_ ? *replacement_ : native_).show(text, buttons, icon, title);
  }

 private:
  platform::MessageBox& native_;
  platform::MessageBox*& replacement_;
};

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

MainWindow::MainWindow(HINSTANCE instance, platform::ObjectFactory& factory,
                       const platform::FileSystem& fileSystem, std::function<void()> end)
    : instance_(instance), end_(std::move(end)), factory_(factory), fileSystem_(fileSystem) {
  // The common controls (version 6 through the manifest) before any control exists.
  InitCommonControls();

  bigIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON),
                                           GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  RegisterWindowClass(instance_, bigIcon_, smallIcon_);
  font_ = MakeFont(8.25, false);
  titleFont_ = MakeFont(14.25, true);
  white_ = CreateSolidBrush(RGB(255, 255, 255));

  // Fixed single border: a caption, the system menu and a minimise box; no sizing.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  window_ = CreateWindowExW(0, kClassName, L"Parvane", style, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                            instance_, nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::Procedure));
  if (bigIcon_) SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  if (smallIcon_) SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

  createControls();

  nativeMessages_ = std::make_unique<Win32MessageBox>(window_);
  messages_ = std::make_unique<ForwardingMessageBox>(*nativeMessages_, replacement_);
  openDialog_ = std::make_unique<Win32OpenFileDialog>(window_);
  folderDialog_ = std::make_unique<Win32FolderDialog>();
  desktop_ = std::make_unique<Win32Desktop>(window_);
  form_ = std::make_unique<app::FrmStep1>(
      app::FrmStep1Controls{
          .grdFiles1 = *grid_,
          .lblCount1 = *lblCount1_,
          .FrameConversion = *frameCaption_,
          .LblCurrentDBX = *lblCurrentDBX_,
          .ProgressBar1 = *progressBar1_,
          .ProgressBar2 = *progressBar2_,
          .cmdAdd = *cmdAdd_,
          .CmdAddFolder = *cmdAddFolder_,
          .cmdClear1 = *cmdClear1_,
          .CmdExtractDBX = *cmdExtractDBX_,
          .cmdEnd = *cmdEnd_,
          .messageBox = *messages_,
          .cdlgFile = *openDialog_,
          .folderDialog = *folderDialog_,
          .desktop = *desktop_,
          .fileSystem = fileSystem_,
      },
      factory_);
  form_->Form_Load();
}

MainWindow::~MainWindow() {
  if (window_ != nullptr) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  if (font_) DeleteObject(font_);
  if (titleFont_) DeleteObject(titleFont_);
  if (white_) DeleteObject(white_);
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

void MainWindow::createControls() {
  const auto make = [this](const wchar_t* kind, const wchar_t* text, DWORD style, ControlId id,
                           RECT r, HFONT font) {
    HWND control = CreateWindowExW(0, kind, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                                   r.right - r.left, r.bottom - r.top, window_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_,
                                   nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
  };
  const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
  const DWORD label = SS_LEFT | SS_NOPREFIX;
  const DWORD line = SS_LEFTNOWORDWRAP | SS_NOPREFIX;

  // Created in the order of the keyboard focus: cmdAdd, cmdClear1,
  // CmdAddFolder, grdFiles1, CmdExtractDBX, cmdEnd.
  make(WC_STATICW, L"Parvane", label, kIdLblTitle, Place(240, 120, 6255, 375), titleFont_);
  cmdAdd_ = std::make_unique<Win32Button>(make(WC_BUTTONW, L"Add MSG File(s)...", button,
                                               kIdCmdAdd, Place(240, 960, 1815, 375), font_));
  cmdClear1_ = std::make_unique<Win32Button>(make(WC_BUTTONW, L"Clear File(s)...", button,
                                                  kIdCmdClear1, Place(6240, 960, 1695, 375), font_));
  cmdAddFolder_ = std::make_unique<Win32Button>(
      make(WC_BUTTONW, L"Add Folder having MSG File(s)...", button, kIdCmdAddFolder,
           Place(2400, 960, 2775, 375), font_));
  lblCount1_ = std::make_unique<Win32Label>(
      make(WC_STATICW, L"0 files", line, kIdLblCount1, Place(270, 1560, 4335, 255), font_));
  grid_ = std::make_unique<Win32Grid>(window_, kIdGrdFiles1, Place(240, 1800, 7695, 1575), font_);

  frameCaption_ = std::make_unique<Win32FrameCaption>(
      make(WC_BUTTONW, L"Details", BS_GROUPBOX, kIdFrameConversion,
           Place(kFrameLeft, kFrameTop, 7695, 1815), font_));
  lblCurrentDBX_ = std::make_unique<Win32Label>(
      make(WC_STATICW, L"Converting Messages...", line, kIdLblCurrentDBX,
           Place(120, 240, 7455, 255, kFrameLeft, kFrameTop), font_));
  make(WC_STATICW, L"Message 0 (of 0)", line, kIdLblProgessCurrent,
       Place(1800, 600, 5775, 255, kFrameLeft, kFrameTop), font_);
  make(WC_STATICW, L"Current File Progress : ", line, kIdLabel2,
       Place(120, 960, 1695, 255, kFrameLeft, kFrameTop), font_);
  progressBar2_ = std::make_unique<Win32ProgressBar>(
      make(PROGRESS_CLASSW, L"", 0, kIdProgressBar2, Place(1800, 960, 5775, 255, kFrameLeft, kFrameTop),
           font_));
  make(WC_STATICW, L"Overall Progress        : ", line, kIdLabel1,
       Place(120, 1320, 1695, 255, kFrameLeft, kFrameTop), font_);
  progressBar1_ = std::make_unique<Win32ProgressBar>(
      make(PROGRESS_CLASSW, L"", 0, kIdProgressBar1, Place(1800, 1320, 5775, 255, kFrameLeft, kFrameTop),
           font_));

  cmdExtractDBX_ = std::make_unique<Win32Button>(make(WC_BUTTONW, L"Convert &Messages", button,
                                                      kIdCmdExtractDBX,
                                                      Place(2880, 5520, 2415, 435), font_));
  cmdExtractDBX_->setEnabled(false);
  cmdEnd_ = std::make_unique<Win32Button>(make(WC_BUTTONW, L"E&xit", button, kIdCmdEnd,
                                               Place(6360, 0, 1335, 375, kStripLeft, kStripTop),
                                               font_));
}

void MainWindow::setMessageBox(platform::MessageBox* messages) { replacement_ = messages; }

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
  SetFocus(control(kIdCmdAdd));
}

int MainWindow::run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) Win32Desktop::Dispatch(window_, message);
  return static_cast<int>(message.wParam);
}

void MainWindow::paintBands(HDC dc) {
  const auto band = [&](RECT r, COLORREF border, bool outline) {
    FillRect(dc, &r, white_);
    if (!outline) return;
    HPEN pen = CreatePen(PS_SOLID, 1, border);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
  };
  band(Place(-120, 0, 8415, 855), RGB(128, 128, 128), true);  // Shape2, the top band
  band(Place(0, 6120, 8415, 855), RGB(192, 192, 192), true);  // Shape1, the bottom band
  band(Place(kStripLeft, kStripTop, 7695, 495), 0, false);    // Picture3, the strip
}

void MainWindow::onCommand(int id) {
  if (ended_) return;
  switch (id) {
    case kIdCmdAdd:
      form_->cmdAdd_Click();
      break;
    case kIdCmdAddFolder:
      form_->CmdAddFolder_Click();
      break;
    case kIdCmdClear1:
      form_->cmdClear1_Click();
      break;
    case kIdCmdExtractDBX:
      form_->CmdExtractDBX_Click();
      break;
    case kIdCmdEnd:
      if (form_->cmdEnd_Click()) endProgram();
      break;
    default:
      break;
  }
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
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      if (id == kIdLblTitle) {
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(white_);
      }
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      SetTextColor(dc, id == kIdLblProgessCurrent ? RGB(0, 0, 0) : GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CTLCOLORBTN:
      // cmdEnd stands on the white strip.
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kIdCmdEnd) {
        return reinterpret_cast<LRESULT>(white_);
      }
      break;
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
