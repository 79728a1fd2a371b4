// Fuzz target: a failing medium. The input's first 32 bytes say how the medium fails: up to
// four unreadable stretches, a number of reads after which it goes away, a few transient
// errors. The rest is the volume, scanned by the engine its boot sector names (FAT when it
// names none), then a few of the files found are recovered. Whatever fails where, nothing may
// crash, hang, loop on the medium or read past what the volume holds.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_volume.h"
#include "workflow/scan_run.h"

namespace {

constexpr std::size_t plan_bytes = 32;

std::uint32_t u32_at(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

std::uint16_t u16_at(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  if (size < plan_bytes) return 0;
  const std::uint8_t* plan = data;
  fuzzing::FuzzVolume v;
  fuzzing::bind_volume(
      v, data + plan_bytes, size - plan_bytes,
      plan[0] % 2 == 0 ? volume::FileSystemKind::fat16 : volume::FileSystemKind::fat32);
  auto source = std::dynamic_pointer_cast<volume::MemorySource>(v.drive().source);
  if (!source) return 0;
  // Four stretches of (first sector: 4 bytes, sectors: 2 bytes); a stretch may start at any
  // byte of its first sector, as a medium's failing units need not match the volume's.
  for (std::size_t i = 0; i < 4; ++i) {
    const std::uint8_t* at = plan + 1 + i * 6;
    const std::uint64_t sectors = u16_at(at + 4);
    if (sectors == 0) continue;
    const std::uint64_t first = std::uint64_t{u32_at(at)} * 512 + (plan[29] & 0x1ff);
    source->bad_ranges.emplace_back(first, first + sectors * 512);
  }
  const std::uint32_t gone_after = u32_at(plan + 25);
  if (gone_after < 100000) source->gone_after_reads = gone_after;
  source->failing_reads = plan[30] % 4;

  workflow::scan_drive(v.drive(), v.catalogue, v.run, v.channel, {});
  // The recovery meets the same medium: stretches known or not, gone or not.
  v.run.clear_stop();
  fuzzing::recover_some(v, 3);
  return 0;
}
