#include "engine/session/automation_errors.h"

#include <cmath>
#include <new>

#include "engine/core/io_error.h"
#include "engine/messaging/errors.h"
#include "engine/msg/message.h"

namespace parvane::session {

void raise(std::int32_t code, const std::string& text) { throw platform::AutomationError(code, text); }

void rethrowAsAutomation(const std::string& action) {
  try {
    throw;
  } catch (const platform::AutomationError&) {
    throw;
  } catch (const messaging::StoreError& e) {
    using K = messaging::StoreError::Kind;
    std::int32_t code = platform::AutomationError::kFailed;
    if (e.kind() == K::NameCollision) code = kMapiCollision;
    if (e.kind() == K::NotFound) code = kMapiNotFound;
    if (e.kind() == K::FileExists) code = platform::AutomationError::kFileExists;
    if (e.io() != nullptr && e.io()->cause() == core::IoError::Cause::DiskFull) code = kMapiDiskFull;
    raise(code, action + ": " + e.what());
  } catch (const core::IoError& e) {
    raise(e.cause() == core::IoError::Cause::DiskFull        ? kMapiDiskFull
          : e.cause() == core::IoError::Cause::AlreadyExists ? platform::AutomationError::kFileExists
                                                            : platform::AutomationError::kFailed,
          action + ": " + e.what());
  } catch (const msg::ReadError& e) {
    raise(platform::AutomationError::kFailed, action + ": " + e.what());
  } catch (const std::bad_alloc&) {
    raise(platform::AutomationError::kFailed, action + ": out of memory");
  } catch (const std::exception& e) {
    raise(platform::AutomationError::kFailed, action + ": " + e.what());
  } catch (...) {
    raise(platform::AutomationError::kFailed, action + ": unknown failure");
  }
}

std::int32_t toInt32(const platform::Variant& v) {
  if (const auto* i = std::get_if<std::int32_t>(&v)) return *i;
  if (const auto* s = std::get_if<std::int16_t>(&v)) return *s;
  if (const auto* b = std::get_if<bool>(&v)) return *b ? -1 : 0;
  if (const auto* d = std::get_if<double>(&v)) {
    if (std::isfinite(*d) && *d >= -2147483648.0 && *d <= 2147483647.0) return static_cast<std::int32_t>(std::lround(*d));
  }
  raise(platform::AutomationError::kTypeMismatch, "Type mismatch");
}

}  // namespace parvane::session
