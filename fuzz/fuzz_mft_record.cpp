// Fuzz target: decoding of one MFT record: fix-ups, the attribute walk, attribute sizes and
// resident values, run lists (decode_runs, attribute_runs, map_vcn, map_runs), file names,
// the name choice and the deep scan's recogniser of records. The record is the fuzzer's bytes
// cut to a record size of 1 KiB or 4 KiB.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "ntfs/mft_record.h"

namespace {

using namespace fennick::ntfs;

void check_runs(const std::vector<DataRun>& runs) {
  for (const DataRun& run : runs) {
    if (run.length < 0) std::abort();
  }
}

void visit(ConstBytes record, std::size_t at) {
  if (at >= record.size()) std::abort();
  (void)attr_flags_of(record, at);
  const std::int64_t first = attr_first_vcn_of(record, at);
  const std::int64_t last = attr_last_vcn_of(record, at);
  (void)attr_allocated_size(record, at);
  (void)attr_data_size(record, at);
  if (const auto value = attr_value(record, at)) {
    if (value->offset > record.size() || value->length > record.size() - value->offset) {
      std::abort();
    }
  }
  if (attr_is_non_resident(record, at)) {
    check_runs(decode_runs(record, at));
    const std::vector<DataRun> runs = attribute_runs(record, at);
    check_runs(runs);
    // The middle and the one after the first, computed so that extreme VCNs cannot overflow.
    const std::int64_t middle = first / 2 + last / 2;
    const std::int64_t next = first < std::numeric_limits<std::int64_t>::max() ? first + 1 : first;
    for (const std::int64_t vcn : {first, last, next, middle, std::int64_t{0}}) {
      (void)map_vcn(record, at, vcn);
      (void)map_runs(runs, vcn);
    }
  }
  (void)file_name_of(record, at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t record_size = (data[0] & 1) ? 4096 : 1024;
  std::vector<std::uint8_t> record(data + 1, data + std::min(size, record_size + 1));
  if (!has_file_signature(record)) {
    // Let the fuzzer reach the decoding without having to guess the signature.
    if (record.size() >= 4) {
      record[0] = 'F';
      record[1] = 'I';
      record[2] = 'L';
      record[3] = 'E';
    }
  }
  // The deep scan's test of a sector: what it accepts must lie inside what it was given.
  if (recognise_file_record(record) > record.size()) std::abort();
  apply_fixups(record);
  const ConstBytes bytes(record);
  for (const std::uint32_t type :
       {type_standard_information, type_attribute_list, type_file_name, type_data, type_bitmap}) {
    for (int position = 0; position < 4; ++position) {
      if (const auto at = find_attribute(bytes, type, position)) visit(bytes, *at);
    }
    for (const std::size_t at : find_attributes(bytes, type)) visit(bytes, at);
  }
  (void)choose_file_name(bytes);
  (void)name_to_ansi(bytes, bytes.size());
  return 0;
}
