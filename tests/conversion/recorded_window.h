// The window's side of a conversion run, written down: every change a user
// could see (a caption, a progress bar's range or position, a button's state)
// and every box, one line each, in order. The run goes to our engine with a
// fixed clock and random source, so its store's bytes repeat.
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "conversion/window_run.h"
#include "import/engine_store_service.h"
#include "support/fake_ui.h"

namespace parvane::conversion {

inline constexpr const char* kRecordedStamp = "6.12.26 9.5.07";

// Fixed times and a fixed random sequence, and commits left to the byte count.
inline messaging::StoreOptions RepeatableStoreOptions() {
  messaging::StoreOptions options;
  options.commitEveryMilliseconds = std::numeric_limits<std::uint32_t>::max();
  options.fileTime = [] { return std::uint64_t{0x01DD6A2B'4C3D2E00}; };
  options.random = [state = std::uint64_t{0x5EED}]() mutable {
    state += 0x9E3779B97F4A7C15ull;  // splitmix64
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  };
  return options;
}

class RecordedWindow {
 public:
  RecordedWindow(const std::vector<std::string>& rows, std::string destination)
      : frame_(log_, "frame", "Details :"), label_(log_, "label", "-"),
        bar1_(log_, "bar1"), bar2_(log_, "bar2"), extract_(log_, "convert", true),
        add_(log_, "add", true), addFolder_(log_, "add folder", true), clear_(log_, "clear", true),
        box_(log_) {
    grid_.setRows(static_cast<std::int32_t>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
      grid_.setRow(static_cast<std::int32_t>(i));
      grid_.setCol(0);
      grid_.setText(rows[i]);
    }
    grid_.setRow(0);
    dialog_.results.push_back(std::move(destination));
  }

  void convert() {
    importer::EngineStoreService store(RepeatableStoreOptions());
    WindowRunOptions options;
    options.clock = [] { return LocalTime{2026, 12, 6, 9, 5, 7}; };
    options.pathRules = kPosixPathRules;
    WindowControls controls{grid_, frame_, label_, bar1_, bar2_, extract_, add_, addFolder_,
                            clear_, box_,  dialog_, desktop_};
    WindowConversion(controls, options).start(store);
    log_ += "current row " + std::to_string(grid_.currentRow()) + "\n";
  }

  const std::string& log() const { return log_; }

 private:
  class Label : public platform::Label {
   public:
    Label(std::string& log, std::string name, std::string caption)
        : log_(log), name_(std::move(name)), caption_(std::move(caption)) {}
    std::string caption() const override { return caption_; }
    void setCaption(const std::string& caption) override {
      if (caption != caption_) log_ += name_ + ": " + caption + "\n";
      caption_ = caption;
    }

   private:
    std::string& log_;
    std::string name_, caption_;
  };
  class Button : public platform::Button {
   public:
    Button(std::string& log, std::string name, bool enabled)
        : log_(log), name_(std::move(name)), enabled_(enabled) {}
    bool enabled() const override { return enabled_; }
    void setEnabled(bool enabled) override {
      if (enabled != enabled_) log_ += name_ + (enabled ? ": enabled\n" : ": disabled\n");
      enabled_ = enabled;
    }

   private:
    std::string& log_;
    std::string name_;
    bool enabled_;
  };
  class Bar : public platform::ProgressBar {
   public:
    Bar(std::string& log, std::string name) : log_(log), name_(std::move(name)) {}
    void setMin(float min) override { change("min", min_, min); }
    void setMax(float max) override { change("max", max_, max); }
    float value() const override { return value_; }
    void setValue(float value) override { change("value", value_, value); }

   private:
    void change(const char* what, float& held, float value) {
      if (value != held) {
        char text[64];
        std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
        log_ += name_ + " " + what + ": " + text + "\n";
      }
      held = value;
    }
    std::string& log_;
    std::string name_;
    float min_ = 0, max_ = 100, value_ = 0;
  };
  class Box : public platform::MessageBox {
   public:
    explicit Box(std::string& log) : log_(log) {}
    platform::MessageAnswer show(const std::string& text, platform::MessageButtons buttons,
                                 platform::MessageIcon icon, const std::string& title) override {
      log_ += "box \"" + title + "\" buttons " + std::to_string(static_cast<int>(buttons)) +
              " icon " + std::to_string(static_cast<int>(icon)) + ":\n" + text + "\n(end of box)\n";
      return platform::MessageAnswer::Ok;
    }

   private:
    std::string& log_;
  };
  std::string log_;
  testing::FakeGrid grid_;
  Label frame_, label_;
  Bar bar1_, bar2_;
  Button extract_, add_, addFolder_, clear_;
  Box box_;
  testing::FakeFolderDialog dialog_;
  testing::FakeDesktop desktop_;
};

}  // namespace parvane::conversion
