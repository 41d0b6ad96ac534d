#include "win32/dialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "filelist/add_files.h"
#include "platform/win32_text.h"

namespace parvane::win32 {

using platform::Utf8ToWide;
using platform::WideToUtf8;

std::wstring DialogFilter(const std::string& filter) {
  std::wstring pieces = Utf8ToWide(filter);
  std::replace(pieces.begin(), pieces.end(), L'|', L'\0');
  pieces.push_back(L'\0');
  pieces.push_back(L'\0');
  return pieces;
}

std::string OpenResultFromBuffer(const wchar_t* buffer, std::size_t size) {
  std::vector<std::wstring> pieces;
  std::size_t at = 0;
  while (at < size && buffer[at] != L'\0') {
    std::size_t end = at;
    while (end < size && buffer[end] != L'\0') ++end;
    pieces.emplace_back(buffer + at, end - at);
    at = end + 1;
  }
  std::string result;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) result.push_back('\0');
    result += WideToUtf8(pieces[i]);
  }
  return result;
}

std::int32_t NamesThatFit(const std::wstring& folder, const std::wstring& spec,
                          std::int32_t maxFileSize) {
  std::vector<std::wstring> names;
  if (spec.find(L'"') == std::wstring::npos) {
    if (!spec.empty()) names.push_back(spec);
  } else {
    std::size_t at = 0;
    while ((at = spec.find(L'"', at)) != std::wstring::npos) {
      const std::size_t end = spec.find(L'"', at + 1);
      if (end == std::wstring::npos) break;
      names.push_back(spec.substr(at + 1, end - at - 1));
      at = end + 1;
    }
  }
  // The folder, then each name, each ended by a NUL; a final NUL ends the list.
  std::size_t used = folder.size() + 2;
  std::int32_t fit = 0;
  for (const auto& name : names) {
    used += name.size() + 1;
    if (used > static_cast<std::size_t>(std::max(maxFileSize, 0))) break;
    ++fit;
  }
  return fit;
}

namespace {

// Follows the selection while the dialog is open, so that a selection too
// long for the buffer can say how many of its names would have fitted.
struct Selection {
  std::wstring folder;
  std::wstring spec;
};

std::wstring DialogText(HWND dialog, UINT message) {
  const auto length = SendMessageW(dialog, message, 0, 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  SendMessageW(dialog, message, static_cast<WPARAM>(length), reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::wcslen(text.c_str()));
  return text;
}

UINT_PTR CALLBACK FollowSelection(HWND child, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto* options = reinterpret_cast<const OPENFILENAMEW*>(lParam);
    SetWindowLongPtrW(child, GWLP_USERDATA, static_cast<LONG_PTR>(options->lCustData));
    return 0;
  }
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->code == CDN_SELCHANGE || header->code == CDN_FILEOK) {
      auto* selection = reinterpret_cast<Selection*>(GetWindowLongPtrW(child, GWLP_USERDATA));
      HWND dialog = GetParent(child);
      if (selection != nullptr) {
        selection->folder = DialogText(dialog, CDM_GETFOLDERPATH);
        selection->spec = DialogText(dialog, CDM_GETSPEC);
      }
    }
  }
  return 0;
}

}  // namespace

void Win32OpenFileDialog::showOpen() {
  const std::int32_t size = std::max<std::int32_t>(maxFileSize_, 2);
  std::vector<wchar_t> buffer(static_cast<std::size_t>(size) + 1, L'\0');
  const std::wstring initial = Utf8ToWide(fileName_);
  std::copy_n(initial.begin(), std::min(initial.size(), buffer.size() - 1), buffer.begin());
  const std::wstring filter = DialogFilter(filter_);
  Selection selection;

  OPENFILENAMEW options{};
  options.lStructSize = sizeof options;
  options.hwndOwner = owner_;
  options.lpstrFilter = filter_.empty() ? nullptr : filter.c_str();
  options.nFilterIndex = 1;
  options.lpstrFile = buffer.data();
  options.nMaxFile = static_cast<DWORD>(size);
  // The flags as set, with a hook that only watches the selection.
  options.Flags = static_cast<DWORD>(flags_) | OFN_ENABLEHOOK | OFN_ENABLESIZING;
  options.lpfnHook = FollowSelection;
  options.lCustData = reinterpret_cast<LPARAM>(&selection);

  fileName_.clear();
  if (GetOpenFileNameW(&options)) {
    fileName_ = OpenResultFromBuffer(buffer.data(), buffer.size());
    return;
  }
  const DWORD error = CommDlgExtendedError();
  if (error == 0) return;  // cancelled
  if (error == FNERR_BUFFERTOOSMALL) {
    throw filelist::SelectionTooLongError(NamesThatFit(selection.folder, selection.spec, size));
  }
  throw platform::PlatformError(static_cast<std::int32_t>(error),
                                "The common dialog function failed");
}

std::string Win32FolderDialog::browse(std::intptr_t owner, const std::string& title) {
  const std::wstring caption = Utf8ToWide(title);
  BROWSEINFOW info{};
  info.hwndOwner = reinterpret_cast<HWND>(owner);
  info.pidlRoot = nullptr;
  info.pszDisplayName = nullptr;
  info.lpszTitle = caption.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = nullptr;
  info.lParam = 0;
  info.iImage = 0;
  PIDLIST_ABSOLUTE items = SHBrowseForFolderW(&info);
  if (items == nullptr) return {};
  std::vector<wchar_t> path(MAX_PATH, L'\0');
  const BOOL converted = SHGetPathFromIDListW(items, path.data());
  CoTaskMemFree(items);
  if (!converted) return {};
  return WideToUtf8(std::wstring(path.data()));
}

}  // namespace parvane::win32
