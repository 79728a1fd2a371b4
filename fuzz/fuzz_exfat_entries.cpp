// Fuzz target: exFAT entry-set decoding (File, Stream Extension, File Name and other
// secondaries; names, checksum, timestamps) over the fuzzer's bytes, at every entry offset.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "exfat/exfat_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  const volume::ByteSpan bytes(data, size);
  for (std::size_t at = 0; at < size; at += 32) {
    const auto set = exfat::decode_entry_set(bytes.subspan(at));
    if (!set) continue;
    // A set never claims more entries than the bytes hold or a set can have.
    if (set->entries < 3 || set->entries > exfat::max_set_entries ||
        set->entries * 32 > size - at) {
      std::abort();
    }
  }
  return 0;
}
