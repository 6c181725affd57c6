// SPDX-License-Identifier: GPL-3.0-or-later
// Tiny 1-based views over caller-owned arrays, so the numerics read like
// their written description: v(j) is element j, a(j, i) is row j of column i
// of a column-major matrix with row count ld.
#pragma once

#include <cstddef>

namespace tavel::ace {

template <typename T>
class Vec1 {
 public:
  explicit Vec1(T* data) : data_(data) {}
  T& operator()(int j) const { return data_[j - 1]; }
  T* data() const { return data_; }

 private:
  T* data_;
};

template <typename T>
class Mat1 {
 public:
  Mat1(T* data, int ld) : data_(data), ld_(ld) {}
  T& operator()(int j, int i) const {
    return data_[static_cast<std::ptrdiff_t>(i - 1) * ld_ + (j - 1)];
  }
  // Pointer to element (1, i): column i as a plain array.
  T* col(int i) const { return data_ + static_cast<std::ptrdiff_t>(i - 1) * ld_; }
  Vec1<T> column(int i) const { return Vec1<T>(col(i)); }
  int ld() const { return ld_; }

 private:
  T* data_;
  int ld_;
};

}  // namespace tavel::ace
