// Stand-ins that forward every call to a part chosen later: the window hands
// the controller one stable reference while tests (or a front end) swap the
// part behind it. Each forwards to its replacement when one is set, else to
// its default. Neither is owned.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/core/forwarding_file_system.h"
#include "platform/ui.h"

namespace parvane::app {

template <class Part>
class Replaceable {
 public:
  explicit Replaceable(Part& fallback) : fallback_(&fallback) {}
  // nullptr restores the default.
  void replace(Part* part) { replacement_ = part; }
  Part& current() const { return replacement_ ? *replacement_ : *fallback_; }

 private:
  Part* fallback_;
  Part* replacement_ = nullptr;
};

class ReplaceableMessageBox : public platform::MessageBox, public Replaceable<platform::MessageBox> {
 public:
  using Replaceable::Replaceable;
  platform::MessageAnswer show(const std::string& text, platform::MessageButtons buttons,
                               platform::MessageIcon icon, const std::string& title) override {
    return current().show(text, buttons, icon, title);
  }
};

class ReplaceableOpenFileDialog : public platform::OpenFileDialog,
                                  public Replaceable<platform::OpenFileDialog> {
 public:
  using Replaceable::Replaceable;
  void setFileName(const std::string& name) override { current().setFileName(name); }
  void setFilter(const std::string& filter) override { current().setFilter(filter); }
  void setFlags(std::int32_t flags) override { current().setFlags(flags); }
  void setMaxFileSize(std::int32_t size) override { current().setMaxFileSize(size); }
  void showOpen() override { current().showOpen(); }
  std::string fileName() const override { return current().fileName(); }
};

class ReplaceableFolderDialog : public platform::FolderDialog,
                                public Replaceable<platform::FolderDialog> {
 public:
  using Replaceable::Replaceable;
  std::string browse(std::intptr_t owner, const std::string& title) override {
    return current().browse(owner, title);
  }
};

class ReplaceableFileSystem : public core::ForwardingFileSystem, public Replaceable<core::FileSystem> {
 public:
  using Replaceable::Replaceable;

 protected:
  core::FileSystem& target() override { return current(); }
};

}  // namespace parvane::app
