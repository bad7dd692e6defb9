#pragma once
// Data runs: how a non-resident attribute's clusters map onto the volume.
// Each run is a header byte (low half: bytes of the length, high half:
// bytes of the signed offset from the previous run's first cluster; no
// offset bytes means a sparse run with no clusters on disk), then the
// length and the offset, little-endian; a zero byte ends the list.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mirrow::ntfs {

constexpr std::uint64_t sparse_cluster = UINT64_MAX;

struct Extent {
  std::uint64_t first_vcn = 0;  // cluster within the attribute
  std::uint64_t lcn = 0;        // cluster on the volume, or sparse_cluster
  std::uint64_t clusters = 0;
};

enum class RunProblem {
  none,
  truncated,       // a run or the list runs past the bytes given
  bad_header,      // a length field wider than eight bytes or a zero length
  past_volume,     // a run lies (partly) past the volume's last cluster
  too_many,        // more runs than the caller allows
};

const char* run_problem_text(RunProblem problem);

// Decodes the runs in [runs, runs + length) starting at first_vcn and
// appends them to out; every run with clusters must lie within
// total_clusters. At most max_extents runs are appended in all.
RunProblem decode_runs(const std::uint8_t* runs, std::size_t length, std::uint64_t first_vcn,
                       std::uint64_t total_clusters, std::size_t max_extents, std::vector<Extent>& out);

}  // namespace mirrow::ntfs
