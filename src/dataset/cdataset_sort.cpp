// CDataset's ordering, searching and filtering by one column.
#include <bit>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "quorvel/cdataset.h"
#include "quorvel/compare.h"
#include "quorvel/error.h"

namespace quorvel {

namespace {

// A row as the sort sees it: its key in a form quick to compare, and where
// its cells are stored. Sorting these, then writing the new row order back,
// leaves the cells untouched, so a comparison that raises half way leaves
// the rows as they were.
template <class Key>
struct SortItem {
  Key key;
  uint32_t slot;
};

// Sorts items[lo..hi] by `cmp`, a three-way comparison of two keys that
// already accounts for the direction. A quicksort around the middle item's
// key hands ranges of up to 10 items to an insertion sort. The smaller side
// is sorted by recursion and the larger one by the loop, so the stack stays
// within log2(n) frames whatever the keys, and a range that keeps splitting
// badly goes to a heapsort, which bounds the time at O(n log n).
template <class Key, class Cmp>
class RowSorter {
 public:
  RowSorter(std::vector<SortItem<Key>>& items, Cmp cmp)
      : items_(items), cmp_(cmp) {}

  void Sort() {
    if (items_.size() < 2) return;
    const int depth = 2 * std::bit_width(items_.size()) + 8;
    QuickSort(0, static_cast<int64_t>(items_.size()) - 1, depth);
  }

 private:
  void QuickSort(int64_t lo, int64_t hi, int depth) {
    while (hi - lo >= 10) {
      if (depth-- == 0) {
        HeapSort(lo, hi);
        return;
      }
      const Key pivot = items_[static_cast<size_t>((lo + hi) / 2)].key;
      int64_t i = lo;
      int64_t j = hi;
      do {
        // The bounds only matter for comparisons that are not consistent
        // (mixed kinds can be); consistent ones stop at the pivot anyway.
        while (i <= hi && cmp_(At(i).key, pivot) < 0) ++i;
        while (j >= lo && cmp_(At(j).key, pivot) > 0) --j;
        if (i > j) break;
        std::swap(At(i), At(j));
        ++i;
        --j;
      } while (i <= j);
      if (j - lo < hi - i) {
        if (lo < j) QuickSort(lo, j, depth);
        if (i >= hi) return;
        lo = i;
      } else {
        if (i < hi) QuickSort(i, hi, depth);
        if (lo >= j) return;
        hi = j;
      }
    }
    InsertionSort(lo, hi);
  }

  void InsertionSort(int64_t lo, int64_t hi) {
    for (int64_t i = lo + 1; i <= hi; ++i) {
      SortItem<Key> taken = std::move(At(i));
      int64_t j = i - 1;
      while (j >= lo && cmp_(At(j).key, taken.key) > 0) {
        At(j + 1) = std::move(At(j));
        --j;
      }
      At(j + 1) = std::move(taken);
    }
  }

  void HeapSort(int64_t lo, int64_t hi) {
    const int64_t n = hi - lo + 1;
    for (int64_t k = n / 2 - 1; k >= 0; --k) SiftDown(lo, k, n);
    for (int64_t end = n - 1; end > 0; --end) {
      std::swap(At(lo), At(lo + end));
      SiftDown(lo, 0, end);
    }
  }

  void SiftDown(int64_t base, int64_t k, int64_t n) {
    while (true) {
      int64_t largest = k;
      const int64_t left = 2 * k + 1;
      const int64_t right = left + 1;
      if (left < n && cmp_(At(base + left).key, At(base + largest).key) > 0)
        largest = left;
      if (right < n && cmp_(At(base + right).key, At(base + largest).key) > 0)
        largest = right;
      if (largest == k) return;
      std::swap(At(base + k), At(base + largest));
      k = largest;
    }
  }

  SortItem<Key>& At(int64_t i) { return items_[static_cast<size_t>(i)]; }

  std::vector<SortItem<Key>>& items_;
  Cmp cmp_;
};

template <class Key, class Cmp>
void SortItems(std::vector<SortItem<Key>>& items, Cmp cmp, bool descending) {
  if (descending) {
    auto reversed = [cmp](const Key& a, const Key& b) { return -cmp(a, b); };
    RowSorter<Key, decltype(reversed)>(items, reversed).Sort();
  } else {
    RowSorter<Key, Cmp>(items, cmp).Sort();
  }
}

int32_t Sign(int32_t v) { return (v > 0) - (v < 0); }

// Null sorts before every number, as CompareCells puts it.
constexpr int64_t kNullNumber = std::numeric_limits<int64_t>::min();

struct TextKey {
  const char16_t* data;
  uint32_t size;
  bool null;
};

}  // namespace

int32_t CDataset::CompareCells(const Value& a, const Value& b) {
  if (a.IsNull()) return b.IsNull() ? 0 : -1;
  if (b.IsNull()) return 1;
  if (a.IsString() && b.IsString())
    return Sign(
        CompareText(a.string_view(), b.string_view(), CompareMode::Text));
  if (a.kind() == Kind::Long && b.kind() == Kind::Long)
    return (a.long_value() > b.long_value()) -
           (a.long_value() < b.long_value());
  switch (Compare(a, b)) {
    case Comparison::Less:
      return -1;
    case Comparison::Greater:
      return 1;
    default:
      return 0;
  }
}

void CDataset::Sort(const Value& Col, bool Descending) {
  const int32_t c = ResolveColumn(Col);
  if (c == 0 || row_count_ < 2) return;
  const size_t n = static_cast<size_t>(row_count_);
  const size_t width = static_cast<size_t>(column_count_);
  // Keys are read in storage order, which is sequential in memory, and only
  // then arranged in row order.
  auto stored_key = [&](size_t slot) -> const Value& {
    return cells_[slot * width + static_cast<size_t>(c - 1)];
  };
  // Keys of one kind compare the same way through a narrower form, which
  // keeps the sort's working set small; Null fits into each.
  bool all_whole = true;
  bool all_text = true;
  for (size_t slot = 0; slot < n && (all_whole || all_text); ++slot) {
    const Kind kind = stored_key(slot).kind();
    if (kind == Kind::Null) continue;
    all_whole &=
        kind == Kind::Long || kind == Kind::Integer || kind == Kind::Byte;
    all_text &= kind == Kind::String;
  }
  auto sort_by = [&](auto key_in_slot, auto cmp) {
    using Key = decltype(key_in_slot(size_t{0}));
    std::vector<Key> by_slot(n);
    for (size_t slot = 0; slot < n; ++slot) by_slot[slot] = key_in_slot(slot);
    std::vector<SortItem<Key>> items(n);
    for (size_t k = 0; k < n; ++k) items[k] = {by_slot[order_[k]], order_[k]};
    by_slot = {};
    SortItems(items, cmp, Descending);
    for (size_t k = 0; k < n; ++k) order_[k] = items[k].slot;
  };
  if (all_whole) {
    sort_by(
        [&](size_t slot) -> int64_t {
          const Value& v = stored_key(slot);
          switch (v.kind()) {
            case Kind::Long:
              return v.long_value();
            case Kind::Integer:
              return v.integer();
            case Kind::Byte:
              return v.byte();
            default:
              return kNullNumber;
          }
        },
        [](int64_t a, int64_t b) -> int32_t { return (a > b) - (a < b); });
  } else if (all_text) {
    sort_by(
        [&](size_t slot) -> TextKey {
          const Value& v = stored_key(slot);
          const std::u16string_view text = v.string_view();
          return {text.data(), static_cast<uint32_t>(text.size()), v.IsNull()};
        },
        [](const TextKey& a, const TextKey& b) -> int32_t {
          if (a.null) return b.null ? 0 : -1;
          if (b.null) return 1;
          return Sign(CompareText({a.data, a.size}, {b.data, b.size},
                                  CompareMode::Text));
        });
  } else {
    // Cells stay where they are during the sort, so pointing at them is
    // as good as a copy of each key.
    sort_by(
        [&](size_t slot) -> const Value* { return &stored_key(slot); },
        [](const Value* a, const Value* b) { return CompareCells(*a, *b); });
  }
}

int32_t CDataset::Search(const Value& Col, const Value& value) const {
  const int32_t c = ResolveColumn(Col);
  if (c == 0) return 0;
  for (int32_t r = 1; r <= row_count_; ++r) {
    if (CompareCells(Cell(r, c), value) == 0) return r;
  }
  return 0;
}

Ref<CDataset> CDataset::Filter(const Value& Col, const Value& value) const {
  Ref<CDataset> found = Create();
  const int32_t c = ResolveColumn(Col);
  if (c == 0) return found;
  for (const String& name : names_) found->AddColumn(name);
  for (int32_t r = 1; r <= row_count_; ++r) {
    const Value& cell = Cell(r, c);
    const bool match =
        cell.IsNull() ? value.IsNull() : CompareCells(cell, value) == 0;
    if (!match) continue;
    found->AppendCopy(RowCells(r));
  }
  return found;
}

}  // namespace quorvel
