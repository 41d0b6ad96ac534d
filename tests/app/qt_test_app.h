// The Qt tests run with one QApplication, made by qt_test_main.cpp on the
// offscreen platform unless another is asked for.
#pragma once

#include <QtWidgets/QApplication>

#include <cstdlib>

namespace parvane::testing {

inline QApplication& TestApp() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr) std::abort();  // the tests' main makes it first
  return *app;
}

}  // namespace parvane::testing
