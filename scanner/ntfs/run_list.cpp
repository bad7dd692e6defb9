#include "scanner/ntfs/run_list.h"

namespace mirrow::ntfs {

const char* run_problem_text(RunProblem problem) {
  switch (problem) {
    case RunProblem::none: return "no problem";
    case RunProblem::truncated: return "a data run list is cut short";
    case RunProblem::bad_header: return "a data run has a bad header";
    case RunProblem::past_volume: return "a data run lies past the volume's end";
    case RunProblem::too_many: return "too many data runs";
  }
  return "a bad data run";
}

RunProblem decode_runs(const std::uint8_t* runs, std::size_t length, std::uint64_t first_vcn,
                       std::uint64_t total_clusters, std::size_t max_extents, std::vector<Extent>& out) {
  std::size_t at = 0;
  std::int64_t lcn = 0;
  std::uint64_t vcn = first_vcn;
  for (;;) {
    if (at >= length) return RunProblem::truncated;
    const std::uint8_t header = runs[at++];
    if (header == 0) return RunProblem::none;
    const std::size_t length_bytes = header & 0x0F;
    const std::size_t offset_bytes = header >> 4;
    if (length_bytes == 0 || length_bytes > 8 || offset_bytes > 8) return RunProblem::bad_header;
    if (length - at < length_bytes + offset_bytes) return RunProblem::truncated;
    std::uint64_t clusters = 0;
    for (std::size_t i = 0; i < length_bytes; ++i) clusters |= static_cast<std::uint64_t>(runs[at + i]) << (8 * i);
    at += length_bytes;
    if (clusters == 0 || clusters > total_clusters) return RunProblem::bad_header;
    Extent extent{vcn, sparse_cluster, clusters};
    if (offset_bytes > 0) {
      std::uint64_t delta = 0;
      for (std::size_t i = 0; i < offset_bytes; ++i) delta |= static_cast<std::uint64_t>(runs[at + i]) << (8 * i);
      if (offset_bytes < 8 && (delta >> (8 * offset_bytes - 1)) & 1) delta |= ~std::uint64_t{0} << (8 * offset_bytes);
      at += offset_bytes;
      // Wrapping arithmetic: a start outside [0, total_clusters) is refused below.
      lcn = static_cast<std::int64_t>(static_cast<std::uint64_t>(lcn) + delta);
      if (lcn < 0 || static_cast<std::uint64_t>(lcn) >= total_clusters ||
          clusters > total_clusters - static_cast<std::uint64_t>(lcn))
        return RunProblem::past_volume;
      extent.lcn = static_cast<std::uint64_t>(lcn);
    }
    if (out.size() >= max_extents) return RunProblem::too_many;
    if (vcn > UINT64_MAX - clusters) return RunProblem::bad_header;
    out.push_back(extent);
    vcn += clusters;
  }
}

}  // namespace mirrow::ntfs
