#include "detect/selection.h"

#include <algorithm>
#include <limits>

namespace {

constexpr double NONE = -std::numeric_limits<double>::infinity();

// One row of the table: the best total of a set whose last break is candidate i, and the
// break before it in that set.
struct Row {
  std::vector<double> total;
  std::vector<std::size_t> previous;  // npos: the first break of its set
};
constexpr std::size_t FIRST = std::numeric_limits<std::size_t>::max();

bool fits_start(const BreakCandidate& c, std::uint64_t min_track) { return c.block >= min_track; }
bool fits_end(const BreakCandidate& c, std::uint64_t length, std::uint64_t min_track) {
  return c.block <= length && length - c.block >= min_track;
}

// Sets one break larger than those of row (or first breaks when row is null): candidate i
// follows the best j whose block lies min_track or more before it. The best j so far is
// carried along while i moves on, so a row costs one pass.
Row next_row(std::span<const BreakCandidate> c, const Row* row, std::uint64_t min_track) {
  Row next{std::vector<double>(c.size(), NONE), std::vector<std::size_t>(c.size(), FIRST)};
  std::size_t j = 0;
  std::size_t best = FIRST;
  for (std::size_t i = 0; i < c.size(); ++i) {
    if (row == nullptr) {
      if (fits_start(c[i], min_track)) next.total[i] = c[i].score;
      continue;
    }
    for (; j < i && c[j].block + min_track <= c[i].block; ++j) {
      if (row->total[j] != NONE && (best == FIRST || row->total[j] > row->total[best])) best = j;
    }
    if (best != FIRST) {
      next.total[i] = row->total[best] + c[i].score;
      next.previous[i] = best;
    }
  }
  return next;
}

// The best set ending in a candidate that leaves a long enough last track; empty when none.
std::vector<std::size_t> best_of(const std::vector<Row>& rows, std::span<const BreakCandidate> c,
                                 std::uint64_t length, std::uint64_t min_track) {
  const Row& last = rows.back();
  std::size_t best = FIRST;
  for (std::size_t i = 0; i < c.size(); ++i) {
    if (last.total[i] == NONE || !fits_end(c[i], length, min_track)) continue;
    if (best == FIRST || last.total[i] > last.total[best]) best = i;
  }
  // Row k holds sets of k + 1 breaks, so each step back goes one row up; a single row of
  // sets of any size holds its chain in itself.
  std::vector<std::size_t> chosen;
  for (std::size_t k = rows.size() - 1; best != FIRST; k = k == 0 ? 0 : k - 1) {
    chosen.push_back(best);
    best = rows[k].previous[best];
  }
  std::reverse(chosen.begin(), chosen.end());
  return chosen;
}

// Any number of breaks: one row where each candidate follows the best set before it, or
// starts one.
std::vector<std::size_t> best_of_any_size(std::span<const BreakCandidate> c, std::uint64_t length,
                                          std::uint64_t min_track) {
  Row row{std::vector<double>(c.size(), NONE), std::vector<std::size_t>(c.size(), FIRST)};
  std::size_t j = 0;
  std::size_t best = FIRST;
  for (std::size_t i = 0; i < c.size(); ++i) {
    for (; j < i && c[j].block + min_track <= c[i].block; ++j) {
      if (row.total[j] != NONE && (best == FIRST || row.total[j] > row.total[best])) best = j;
    }
    const double before = best == FIRST ? NONE : row.total[best];
    // Scores are positive: following a set always beats starting anew.
    if (before != NONE) {
      row.total[i] = before + c[i].score;
      row.previous[i] = best;
    } else if (fits_start(c[i], min_track)) {
      row.total[i] = c[i].score;
    }
  }
  return best_of({row}, c, length, min_track);
}

}  // namespace

std::vector<std::size_t> select_breaks(std::span<const BreakCandidate> candidates, std::uint64_t length,
                                       std::uint64_t min_track, std::optional<std::size_t> count) {
  if (!count) return best_of_any_size(candidates, length, min_track);
  std::vector<Row> rows;
  std::vector<std::size_t> best;
  for (std::size_t size = 1; size <= *count; ++size) {
    rows.push_back(next_row(candidates, rows.empty() ? nullptr : &rows.back(), min_track));
    std::vector<std::size_t> chosen = best_of(rows, candidates, length, min_track);
    // A set one larger holds one of this size that fits too: none fits, none will.
    if (chosen.empty()) break;
    best = std::move(chosen);
  }
  return best;
}
