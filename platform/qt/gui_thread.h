// SPDX-License-Identifier: GPL-3.0-or-later
// Carrying a call over to the thread that owns the widgets. Commands run on a
// worker thread so the window stays live; whatever they do to a widget goes
// through onThreadOf, which runs it on the widgets' thread and waits for it,
// so the command sees the same order of effects as if it ran there itself.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace tavel::platform::qt {

// Runs f on the thread of context and returns its result; called on that
// thread, f runs at once. An exception leaving f is rethrown to the caller.
// The context's thread must be running an event loop (the GUI thread waits
// for a command in one, and every modal dialog runs one).
template <typename F>
auto onThreadOf(QObject* context, F&& f) -> std::invoke_result_t<F&> {
  using Result = std::invoke_result_t<F&>;
  if (QThread::currentThread() == context->thread()) return f();
  std::exception_ptr failure;
  if constexpr (std::is_void_v<Result>) {
    QMetaObject::invokeMethod(
        context,
        [&] {
          try {
            f();
          } catch (...) {
            failure = std::current_exception();
          }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
  } else {
    std::optional<Result> result;
    QMetaObject::invokeMethod(
        context,
        [&] {
          try {
            result.emplace(f());
          } catch (...) {
            failure = std::current_exception();
          }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
  }
}

}  // namespace tavel::platform::qt
