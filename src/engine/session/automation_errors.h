// The texts and codes callers of the mail-store objects see. Lower layers'
// errors (store, message file, file system) become AutomationError here, with
// a message that says what failed, on which file, and why.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "platform/automation.h"

namespace parvane::session {

// MAPI's codes, as signed numbers, for the failures a caller may tell apart.
inline constexpr std::int32_t kMapiNotFound = static_cast<std::int32_t>(0x8004010FU);
inline constexpr std::int32_t kMapiCollision = static_cast<std::int32_t>(0x80040604U);
inline constexpr std::int32_t kMapiDiskFull = static_cast<std::int32_t>(0x80040119U);
inline constexpr std::int32_t kMapiInvalidParameter = static_cast<std::int32_t>(0x80070057U);
inline constexpr std::int32_t kMapiNotSupported = static_cast<std::int32_t>(0x80040102U);

[[noreturn]] void raise(std::int32_t code, const std::string& text);

// Rethrows the exception in flight as an AutomationError; `action` says what
// was being done ("Cannot add the folder \"Mail\"").
[[noreturn]] void rethrowAsAutomation(const std::string& action);

// Runs f, turning any failure into an AutomationError prefixed with `action`.
template <class F>
auto translated(const std::string& action, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const platform::AutomationError&) {
    throw;
  } catch (...) {
    rethrowAsAutomation(action);
  }
}

// An integer value passed to a late-bound member; raises a type mismatch otherwise.
std::int32_t toInt32(const platform::Variant& v);

}  // namespace parvane::session
