// The design of the main window, once for every front end: each
// control's name, kind, caption, container, place in twips, tab stop, font and
// colours, and the window's client area. A front end builds its controls from
// kControls in the table's order, which is also their stacking (a later control
// lies above an earlier one), and turns twips into pixels itself (15 twips a
// pixel at 96 dots per inch).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "filelist/file_list.h"

namespace parvane::app::layout {

enum class Kind : std::uint8_t {
  Shape,        // a filled rectangle with a one-pixel border, beneath all else
  Picture,      // a plain container filled with its background colour
  Label,        // static text
  Button,       // a push button; '&' in its caption marks its access key
  Grid,         // the file list
  Frame,        // a captioned group box; a container
  ProgressBar,  // 0 to 100, no text
};

struct Colour {
  std::uint8_t red, green, blue;
  friend constexpr bool operator==(Colour, Colour) = default;
};

inline constexpr Colour kWhite{255, 255, 255};
inline constexpr Colour kBlack{0, 0, 0};

// A rectangle in twips.
struct Twips {
  int left, top, width, height;
  friend constexpr bool operator==(const Twips&, const Twips&) = default;
};

// Tahoma at a size in points.
struct Font {
  double points;
  bool bold;
};

enum class FontStyle : std::uint8_t { Body, Title };

constexpr Font FontOf(FontStyle style) {
  return style == FontStyle::Title ? Font{14.25, true} : Font{8.25, false};
}

enum class Align : std::uint8_t { Left, Centre, Right };

struct Control {
  std::string_view name;
  Kind kind;
  std::string_view caption;
  std::string_view container;  // empty: the window itself
  Twips place;                 // in the container's coordinates
  int tabIndex = -1;           // position in the keyboard focus order; -1: never focused
  FontStyle font = FontStyle::Body;
  std::optional<Colour> text = {};        // none: the system's text colour
  std::optional<Colour> background = {};  // none: the container's
  std::optional<Colour> border = {};      // shapes only
  Align align = Align::Left;
  bool wraps = false;   // labels: the caption breaks at the right edge
  bool enabled = true;  // at start, before the load step
};

inline constexpr std::string_view kWindowName = "mainWindow";
inline constexpr int kClientWidth = 8145;  // twips
inline constexpr int kClientHeight = 6750;

// The file list's cells, its current cell, its lines and its row height (twips).
inline constexpr Colour kGridCell{255, 255, 191};
inline constexpr Colour kGridSelection{0, 0, 128};
inline constexpr Colour kGridLines{192, 192, 192};
inline constexpr int kGridRowHeight = 240;

// Containers precede their controls; the tab stops run in table order.
inline constexpr Control kControls[] = {
    {.name = "topBand", .kind = Kind::Shape, .caption = "", .container = "",
     .place = {-120, 0, 8415, 855}, .background = kWhite, .border = Colour{128, 128, 128}},
    {.name = "bottomBand", .kind = Kind::Shape, .caption = "", .container = "",
     .place = {0, 6120, 8415, 855}, .background = kWhite, .border = Colour{192, 192, 192}},
    {.name = "titleLabel", .kind = Kind::Label, .caption = filelist::kAppTitle, .container = "",
     .place = {240, 120, 6255, 375}, .font = FontStyle::Title, .text = kBlack,
     .background = kWhite, .wraps = true},
    {.name = "addFilesButton", .kind = Kind::Button, .caption = "Add MSG File(s)...",
     .container = "", .place = {240, 960, 1815, 375}, .tabIndex = 0},
    {.name = "clearListButton", .kind = Kind::Button, .caption = "Clear File(s)...",
     .container = "", .place = {6240, 960, 1695, 375}, .tabIndex = 1},
    {.name = "addFolderButton", .kind = Kind::Button,
     .caption = "Add Folder having MSG File(s)...", .container = "",
     .place = {2400, 960, 2775, 375}, .tabIndex = 2},
    {.name = "fileCountLabel", .kind = Kind::Label, .caption = "0 files", .container = "",
     .place = {270, 1560, 4335, 255}},
    {.name = "fileList", .kind = Kind::Grid, .caption = "", .container = "",
     .place = {240, 1800, 7695, 1575}, .tabIndex = 3, .background = kWhite},
    {.name = "progressFrame", .kind = Kind::Frame, .caption = "Details", .container = "",
     .place = {240, 3480, 7695, 1815}},
    {.name = "currentFolderLabel", .kind = Kind::Label, .caption = "Converting Messages...",
     .container = "progressFrame", .place = {120, 240, 7455, 255}},
    {.name = "messageCountLabel", .kind = Kind::Label, .caption = "Message 0 (of 0)",
     .container = "progressFrame", .place = {1800, 600, 5775, 255}, .text = kBlack},
    {.name = "fileProgressCaption", .kind = Kind::Label, .caption = "Current File Progress : ",
     .container = "progressFrame", .place = {120, 960, 1695, 255}},
    {.name = "fileProgressBar", .kind = Kind::ProgressBar, .caption = "",
     .container = "progressFrame", .place = {1800, 960, 5775, 255}},
    {.name = "overallProgressCaption", .kind = Kind::Label,
     .caption = "Overall Progress        : ", .container = "progressFrame",
     .place = {120, 1320, 1695, 255}},
    {.name = "overallProgressBar", .kind = Kind::ProgressBar, .caption = "",
     .container = "progressFrame", .place = {1800, 1320, 5775, 255}},
    {.name = "convertButton", .kind = Kind::Button, .caption = "Convert &Messages",
     .container = "", .place = {2880, 5520, 2415, 435}, .tabIndex = 4, .enabled = false},
    {.name = "bottomStrip", .kind = Kind::Picture, .caption = "", .container = "",
     .place = {240, 6240, 7695, 495}, .background = kWhite},
    {.name = "exitButton", .kind = Kind::Button, .caption = "E&xit", .container = "bottomStrip",
     .place = {6360, 0, 1335, 375}, .tabIndex = 5},
};

// Not part of the window as it starts: shown once a conversion run has ended,
// beside "Convert Messages", it saves that run's report (as parvane-cli
// --report writes it). Outside the focus order, like the window's labels.
inline constexpr Control kSaveReportButton{
    .name = "saveReportButton", .kind = Kind::Button, .caption = "Save Report...",
    .container = "", .place = {5520, 5550, 1935, 375}};
inline constexpr const char* kSaveReportTitle = "Save Report";

// The control of that name; nullptr when there is none.
constexpr const Control* Find(std::string_view name) {
  for (const Control& control : kControls) {
    if (control.name == name) return &control;
  }
  return nullptr;
}

// The control's place in the window's coordinates, through its containers.
constexpr Twips InWindow(const Control& control) {
  Twips place = control.place;
  for (const Control* in = Find(control.container); in != nullptr; in = Find(in->container)) {
    place.left += in->place.left;
    place.top += in->place.top;
  }
  return place;
}

// The colour behind the control: its own, else the nearest container's; none
// where the window's face shows through.
constexpr std::optional<Colour> Background(const Control& control) {
  for (const Control* at = &control; at != nullptr; at = Find(at->container)) {
    if (at->background) return at->background;
  }
  return std::nullopt;
}

// The control the keyboard focus starts on: the first tab stop.
constexpr const Control& FirstTabStop() {
  for (const Control& control : kControls) {
    if (control.tabIndex == 0) return control;
  }
  return kControls[0];
}

namespace check {

constexpr bool ContainersComeFirst() {
  for (const Control& control : kControls) {
    if (control.container.empty()) continue;
    const Control* in = Find(control.container);
    if (in == nullptr || in >= &control) return false;
    if (in->kind != Kind::Frame && in->kind != Kind::Picture) return false;
  }
  return true;
}

constexpr bool NamesAreUnique() {
  for (const Control& control : kControls) {
    if (Find(control.name) != &control) return false;
  }
  return true;
}

// The tab indices are 0, 1, 2... in table order, and only controls that take
// the focus have one: a front end may create its controls in table order and
// get the focus order from that.
constexpr bool TabStopsRunInTableOrder() {
  int next = 0;
  for (const Control& control : kControls) {
    const bool focusable = control.kind == Kind::Button || control.kind == Kind::Grid;
    if (focusable != (control.tabIndex >= 0)) return false;
    if (focusable && control.tabIndex != next++) return false;
  }
  return next > 0;
}

}  // namespace check

static_assert(check::ContainersComeFirst());
static_assert(check::NamesAreUnique());
static_assert(check::TabStopsRunInTableOrder());

}  // namespace parvane::app::layout
